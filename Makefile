# The two set-up commands of the README. Both install missing Debian packages first.
.PHONY: all deps dev demo test test-dev test-asan run bench install clean

JOBS ?= $(shell nproc)

all: dev

deps:
	@scripts/install-deps

dev: deps
	@cmake --preset dev >/dev/null
	@cmake --build --preset dev -j $(JOBS)

# The end-to-end tests drive the demo build: the real program, pointed at the local simulated API.
demo: deps
	@tools/make-test-certs build/demo-ca >/dev/null
	@cmake --preset demo >/dev/null
	@cmake --build --preset demo -j $(JOBS) --target gweibar gweibar-simapi gweibar-sniwatcher

test-dev: dev demo
	@ctest --preset dev

test-asan: deps
	@cmake --preset asan >/dev/null
	@cmake --build --preset asan -j $(JOBS)
	@ctest --preset asan

test: test-dev test-asan

run: demo
	@scripts/run-demo

bench: deps
	@cmake --preset release -DGWEIBAR_BUILD_BENCH=ON >/dev/null
	@cmake --build --preset release -j $(JOBS)
	@scripts/run-bench

install: deps
	@cmake --preset release >/dev/null
	@cmake --build --preset release -j $(JOBS)
	@cmake --install build/release $(if $(PREFIX),--prefix $(PREFIX))

clean:
	rm -rf build
