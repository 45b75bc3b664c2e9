# The project's everyday commands; each target is one script in tools/.
.PHONY: demo test test-spark bench check-wheel fuzz

demo:
	tools/demo.sh

test:
	tools/test.sh

# Only the Spark example's tests (tools/test.sh runs them too).
test-spark:
	tools/test_spark.sh

bench:
	tools/bench.sh

check-wheel:
	tools/check_wheel.sh

# FUZZ_SECONDS per target (default 60); see tools/fuzz.sh.
fuzz:
	tools/fuzz.sh
