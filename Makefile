# The two commands a fresh Debian 12 machine needs: `make demo` and `make test`. Each installs the
# packages it needs and builds first.
BUILD_DIR ?= build
BUILD_TYPE ?= RelWithDebInfo
CMAKE_FLAGS ?=

.PHONY: all deps configure build test demo bench format clean test-asan fuzz

all: build

deps:
	@scripts/install-deps

$(BUILD_DIR)/build.ninja:
	cmake -S . -B $(BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) $(CMAKE_FLAGS)

configure: deps $(BUILD_DIR)/build.ninja

build: configure
	cmake --build $(BUILD_DIR)

test: build
	ctest --test-dir $(BUILD_DIR) --output-on-failure

demo: build
	$(BUILD_DIR)/orvanta --base demo/plant --simulate

# Benchmarks run on an optimised build of their own.
bench: deps
	cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF
	cmake --build build-release --target orvanta_bench orvanta-mdb-reader
	build-release/orvanta_bench

test-asan:
	LSAN_OPTIONS=suppressions=$(CURDIR)/tests/lsan.supp \
	  $(MAKE) test BUILD_DIR=build-asan BUILD_TYPE=Debug CMAKE_FLAGS=-DORVANTA_SANITIZE=ON

# libFuzzer targets on a clang build of their own; each runs FUZZ_SECONDS in turn. Exits non-zero on a
# finding; the inputs that caused it are in build-fuzz/artifacts/.
FUZZ_SECONDS ?= 60
FUZZ_TARGETS ?= fuzz_ini fuzz_variant fuzz_line_description fuzz_mqtt_payload fuzz_mdb_protocol fuzz_access_file
fuzz:
	@scripts/install-deps --fuzz
	CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DBUILD_TESTING=OFF -DORVANTA_FUZZ=ON
	cmake --build build-fuzz --target $(FUZZ_TARGETS)
	scripts/run-fuzz $(FUZZ_SECONDS) $(FUZZ_TARGETS)

format:
	find src tests bench -name '*.h' -o -name '*.cpp' | xargs clang-format -i

clean:
	rm -rf build build-asan build-release build-fuzz
