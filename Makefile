# The two set-up commands of the README. Both install missing Debian packages first.
.PHONY: all deps dev demo demo-asan loadtest test test-dev test-asan test-fuzz fuzz run bench install clean

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

# The crash-safety tests drive the load-test build as well.
test-dev: dev demo loadtest
	@ctest --preset dev

# The end-to-end tests of the asan tree drive these sanitizer builds of the demo and load-test programs.
demo-asan: deps
	@tools/make-test-certs build/demo-ca >/dev/null
	@cmake --preset demo-asan >/dev/null
	@cmake --build --preset demo-asan -j $(JOBS) --target gweibar gweibar-simapi gweibar-sniwatcher
	@cmake --preset loadtest-asan >/dev/null
	@cmake --build --preset loadtest-asan -j $(JOBS) --target gweibar gweibar-simapi

test-asan: deps demo-asan
	@cmake --preset asan >/dev/null
	@cmake --build --preset asan -j $(JOBS)
	@ctest --preset asan

# The fuzz targets, each replaying its seed corpus once under ASan+UBSan.
test-fuzz: deps
	@cmake --preset fuzz >/dev/null
	@cmake --build --preset fuzz -j $(JOBS)
	@ctest --test-dir build/fuzz --output-on-failure

test: test-dev test-asan test-fuzz

# Each fuzz target for FUZZ_SECONDS (make -j5 fuzz runs them side by side). New inputs collect in
# build/fuzz-corpus/<target>, seeded from fuzz/corpus/<target>; crashes go to build/fuzz-artifacts/<target>/.
FUZZ_SECONDS ?= 600
FUZZ_TARGETS := fuzz_gas_price_reply fuzz_token_price_reply fuzz_decimal fuzz_wei_to_gwei fuzz_defaults_file
FUZZ_JSON_TARGETS := fuzz_gas_price_reply fuzz_token_price_reply fuzz_defaults_file

fuzz: $(FUZZ_TARGETS:%=fuzz-run-%)

fuzz-run-%: test-fuzz
	@mkdir -p build/fuzz-corpus/$* build/fuzz-artifacts/$*
	@build/fuzz/fuzz/$* build/fuzz-corpus/$* fuzz/corpus/$* -max_total_time=$(FUZZ_SECONDS) \
	  -artifact_prefix=build/fuzz-artifacts/$*/ -close_fd_mask=2 -print_final_stats=1 \
	  $(if $(filter $*,$(FUZZ_JSON_TARGETS)),-dict=fuzz/json.dict)

run: demo
	@scripts/run-demo

# The demo build with a 50 ms refresh, for soak and benchmark runs; never shipped.
loadtest: deps
	@tools/make-test-certs build/demo-ca >/dev/null
	@cmake --preset loadtest >/dev/null
	@cmake --build --preset loadtest -j $(JOBS) --target gweibar gweibar-simapi

# The micro benchmarks, then the whole program side by side with the HTTP floor (bench/whole_program.py:
# about 13 minutes; GWEIBAR_BENCH_REFRESHES=1000 GWEIBAR_BENCH_WARMUP=200 GWEIBAR_BENCH_STARTS=2 makes it
# about 3, GWEIBAR_BENCH_MOVING_REFRESHES=0 and GWEIBAR_BENCH_PROFILE=none drop the rest; its header lists
# every setting). Hold /tmp/gweibar-e2e.lock around it on a shared machine.
bench: deps demo loadtest
	@cmake --preset release -DGWEIBAR_BUILD_BENCH=ON >/dev/null
	@cmake --build --preset release -j $(JOBS)
	@scripts/run-bench

install: deps
	@cmake --preset release >/dev/null
	@cmake --build --preset release -j $(JOBS)
	@cmake --install build/release $(if $(PREFIX),--prefix $(PREFIX))

clean:
	rm -rf build
