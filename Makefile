# The two commands of the README. Everything else is CMake.
BUILD_DIR ?= build
SAN_DIR ?= build-asan
FUZZ_DIR ?= build-fuzz
FUZZ_SECONDS ?= 60
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=

.PHONY: run test deps configure build test-asan format-check fuzz

deps:
	scripts/install-deps

configure: deps
	cmake -S . -B $(BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS)

build: configure
	cmake --build $(BUILD_DIR) -j $(JOBS)

# Only the application and what it links; the test suites and benchmarks wait for `make test`.
run: configure
	cmake --build $(BUILD_DIR) -j $(JOBS) --target quillbay
	$(BUILD_DIR)/src/quillbay

format-check: configure
	cmake --build $(BUILD_DIR) --target format-check

test: build format-check
	cd $(BUILD_DIR) && ctest --output-on-failure -j $(JOBS) --timeout 600
	$(MAKE) test-asan
	if [ "$(QB_FUZZ)" = 1 ]; then $(MAKE) fuzz; fi

# The core libraries' tests once more under AddressSanitizer and UBSan.
test-asan: deps
	cmake -S . -B $(SAN_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQB_SANITIZE=ON -DQB_CORE_ONLY=ON
	cmake --build $(SAN_DIR) -j $(JOBS)
	cd $(SAN_DIR) && ctest --output-on-failure -j $(JOBS) --timeout 600 -L core

# The request-head parser under libFuzzer for FUZZ_SECONDS (make test runs it when QB_FUZZ=1).
# New inputs that widen coverage collect in $(FUZZ_DIR)/corpus; the seeds stay untouched.
fuzz: deps
	cmake -S tests/fuzz -B $(FUZZ_DIR) -G Ninja -DCMAKE_CXX_COMPILER=clang++
	cmake --build $(FUZZ_DIR)
	mkdir -p $(FUZZ_DIR)/corpus
	$(FUZZ_DIR)/request_head_fuzzer -max_total_time=$(FUZZ_SECONDS) -max_len=8192 \
		-artifact_prefix=$(FUZZ_DIR)/ $(FUZZ_DIR)/corpus tests/fuzz/corpus
