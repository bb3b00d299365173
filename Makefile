# Farview: `make run` to start the daemon here, `make test` to run every test.
# Both install what is missing first (Debian packages), then build.

BUILD      ?= build
PORT       ?= 8080
JOBS       ?= $(shell nproc)
CMAKE_ARGS ?=

# The extra packages the tests use beyond the build's own.
TEST_PACKAGES = clang libclang-rt-14-dev wrk nginx-light nftables chromium chromium-driver

.PHONY: all deps deps-test build run test check-sanitize check-asan check-tsan fuzz bench clean

all: build

deps:
	@scripts/install-deps.sh

deps-test:
	@scripts/install-deps.sh $(TEST_PACKAGES)

build: deps
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_ARGS) >/dev/null
	@cmake --build $(BUILD) -j $(JOBS)

# A local app folder (page images, chart font, fv.cfg) and data folder under
# the build tree, then the daemon in the foreground.
run: build
	@scripts/prepare-app.sh $(BUILD)/app
	@mkdir -p $(BUILD)/data
	@echo "Farview is starting: open http://localhost:$(PORT)/index.html"
	@FARVIEW_APP_DIR=$(CURDIR)/$(BUILD)/app FARVIEW_DATA_DIR=$(CURDIR)/$(BUILD)/data \
		exec $(BUILD)/farview $(PORT)

test: deps-test build
	@cd $(BUILD) && ctest -j $(JOBS) --output-on-failure

# The whole suite again under AddressSanitizer + UndefinedBehaviorSanitizer,
# then under ThreadSanitizer, each in a build folder of its own.
check-sanitize: check-asan check-tsan

check-asan: deps-test
	@cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DFARVIEW_SANITIZE=address >/dev/null
	@cmake --build build-asan -j $(JOBS)
	@cd build-asan && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
		ctest -j $(JOBS) --output-on-failure

check-tsan: deps-test
	@cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=Debug -DFARVIEW_SANITIZE=thread >/dev/null
	@cmake --build build-tsan -j $(JOBS)
	@cd build-tsan && TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
		ctest -j $(JOBS) --output-on-failure

clean:
	rm -rf $(BUILD) build-asan build-tsan fuzz-build

# The request reader and the file allowlist under libFuzzer (clang), built in
# a folder of its own; runs FUZZ_SECONDS and fails on the first finding.
FUZZ_SECONDS ?= 60
.PHONY: bench-http
fuzz: deps-test
	@cmake -S tests/fuzz -B fuzz-build -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	@cmake --build fuzz-build -j $(JOBS)
	@mkdir -p fuzz-build/corpus
	@fuzz-build/fuzz_http_request -max_total_time=$(FUZZ_SECONDS) -max_len=20000 -print_final_stats=1 \
		fuzz-build/corpus tests/fuzz/corpus

# The HTTP server against nginx under wrk: prints requests/s, latencies and
# the ratio (bench/http_load).
bench-http: deps-test build
	@bench/http_load $(BUILD)
