.PHONY: demo test test-all bench build clean

demo:
	bash scripts/demo.sh

# The main part only (engine and Python tests on free-threaded 3.14); test-all runs the full
# matrix of interpreters, sanitizers, valgrind, the wheel and the fuzzer.
test:
	XCOVER_TEST_PARTS="$${XCOVER_TEST_PARTS:-main}" bash scripts/test.sh

test-all:
	bash scripts/test.sh

bench:
	bash scripts/bench.sh

build:
	bash scripts/build.sh >/dev/null

clean:
	rm -rf build
