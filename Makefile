# The two commands of the README. Everything else is CMake.
BUILD_DIR ?= build
SAN_DIR ?= build-asan
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=

.PHONY: run test deps configure build test-asan format-check

deps:
	scripts/install-deps

configure: deps
	cmake -S . -B $(BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS)

build: configure
	cmake --build $(BUILD_DIR) -j $(JOBS)

run: build
	$(BUILD_DIR)/src/quillbay

format-check: configure
	cmake --build $(BUILD_DIR) --target format-check

test: build format-check
	cd $(BUILD_DIR) && ctest --output-on-failure -j $(JOBS) --timeout 600
	$(MAKE) test-asan

# The core libraries' tests once more under AddressSanitizer and UBSan.
test-asan: deps
	cmake -S . -B $(SAN_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQB_SANITIZE=ON -DQB_CORE_ONLY=ON
	cmake --build $(SAN_DIR) -j $(JOBS)
	cd $(SAN_DIR) && ctest --output-on-failure -j $(JOBS) --timeout 600 -L core
