# The project's everyday commands; each target is one script in tools/.
.PHONY: demo test bench check-wheel fuzz

demo:
	tools/demo.sh

test:
	tools/test.sh

bench:
	tools/bench.sh

check-wheel:
	tools/check_wheel.sh

# FUZZ_SECONDS per target (default 60); see tools/fuzz.sh.
fuzz:
	tools/fuzz.sh
