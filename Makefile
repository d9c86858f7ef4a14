.PHONY: demo test bench build clean

demo:
	bash scripts/demo.sh

test:
	bash scripts/test.sh

bench:
	bash scripts/bench.sh

build:
	bash scripts/build.sh >/dev/null

clean:
	rm -rf build
