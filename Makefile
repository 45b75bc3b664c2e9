# The project's everyday commands; each target is one script in tools/.
.PHONY: demo test test-python test-spark bench check-wheel wheels fuzz

demo:
	tools/demo.sh

test:
	tools/test.sh

# The Python suite alone, under every supported CPython release (see tools/test_python.sh).
test-python:
	tools/test_python.sh

# Only the Spark example's tests (tools/test.sh runs them too).
test-spark:
	tools/test_spark.sh

bench:
	tools/bench.sh

check-wheel:
	tools/check_wheel.sh

# One wheel per supported CPython release in dist/, each checked in a fresh environment.
wheels:
	tools/build_wheels.sh

# FUZZ_SECONDS per target (default 60); see tools/fuzz.sh.
fuzz:
	tools/fuzz.sh
