# The two commands of the README, and a few more for developers. Every
# target installs what it needs first (scripts/install-deps).

BUILD_DIR ?= build
JOBS ?= 2
FUZZ_SECONDS ?= 60
CMAKE_FLAGS ?=

.PHONY: all deps configure build test demo docs docs-check bench fuzz install clean

all: build

deps:
	@sh scripts/install-deps

configure: deps
	cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUARNELO_WERROR=ON $(CMAKE_FLAGS)

build: configure
	cmake --build $(BUILD_DIR) -j$(JOBS)

# Builds everything and runs the whole suite (GoogleTest, C programs,
# packaging checks, fuzz corpus replay under ASan/UBSan).
test: build
	ctest --test-dir $(BUILD_DIR) --output-on-failure -j$(JOBS)

# The main job on a built-in default.
demo: build
	$(BUILD_DIR)/tools/cli/quarnelo demo

# The manual, with every example and report run against this build, into
# $(BUILD_DIR)/docs/html (warnings are errors).
docs: deps
	@sh scripts/install-deps docs
	cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUARNELO_WERROR=ON $(CMAKE_FLAGS)
	cmake --build $(BUILD_DIR) -j$(JOBS) --target docs

# The manual's local links, and its pages in a headless Chromium: no console
# error, no broken image.
docs-check: docs
	python3 tests/docs/check_links.py $(BUILD_DIR)/docs/html
	python3 tests/docs/check_browser.py $(BUILD_DIR)/docs/html index.html \
	  metrics/roughness-dw.html:images validation.html:images

bench: deps
	cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DQUARNELO_BUILD_BENCH=ON \
	  -DQUARNELO_BUILD_TESTS=OFF -DQUARNELO_BUILD_CLI=OFF -DQUARNELO_BUILD_PYTHON=OFF $(CMAKE_FLAGS)
	cmake --build build-bench -j$(JOBS) --target quarnelo_bench
	build-bench/bench/quarnelo_bench $(BENCH_ARGS)

# Runs every libFuzzer target for FUZZ_SECONDS; new inputs land in
# build-fuzz/corpus/<target>, the committed corpus is read, not changed.
fuzz: deps
	CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DQUARNELO_BUILD_FUZZ=ON -DQUARNELO_BUILD_TESTS=OFF -DQUARNELO_BUILD_CLI=OFF \
	  -DQUARNELO_BUILD_PYTHON=OFF -DQUARNELO_BUILD_EXAMPLES=OFF
	cmake --build build-fuzz -j$(JOBS)
	@set -e; for exe in build-fuzz/fuzz/fuzz_*; do \
	  name=$${exe##*/fuzz_}; mkdir -p build-fuzz/corpus/$$name; \
	  echo "== fuzz $$name ($(FUZZ_SECONDS) s)"; \
	  LSAN_OPTIONS=suppressions=tests/sanitized/lsan.supp \
	  $$exe -max_total_time=$(FUZZ_SECONDS) -print_final_stats=1 -artifact_prefix=build-fuzz/ \
	    build-fuzz/corpus/$$name fuzz/corpus/$$name; \
	done

install: build
	cmake --install $(BUILD_DIR)

clean:
	rm -rf $(BUILD_DIR) build-bench build-fuzz
