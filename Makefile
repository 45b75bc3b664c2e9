# The project's everyday commands; each target is one script in tools/.
.PHONY: demo test bench check-wheel

demo:
	tools/demo.sh

test:
	tools/test.sh

bench:
	tools/bench.sh

check-wheel:
	tools/check_wheel.sh
