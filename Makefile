# The two commands a fresh Debian 12 machine needs: `make demo` and `make test`. Each installs the
# packages it needs and builds first.
BUILD_DIR ?= build
BUILD_TYPE ?= RelWithDebInfo
CMAKE_FLAGS ?=
# The project's own builds treat warnings as errors; a plain cmake configure (a user's build) does not.
WERROR ?= ON

.PHONY: all deps configure build test demo demo-mqtt bench format format-check clean test-asan test-release soak package fuzz

all: build

deps:
	@scripts/install-deps

$(BUILD_DIR)/build.ninja:
	cmake -S . -B $(BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) -DORVANTA_WERROR=$(WERROR) $(CMAKE_FLAGS)

configure: deps $(BUILD_DIR)/build.ninja

build: configure
	cmake --build $(BUILD_DIR)

test: build
	ctest --test-dir $(BUILD_DIR) --output-on-failure

# The demo builds only the programs it runs, and runs on a copy of the plant in the build folder: its
# history, lock and log never land in demo/plant, which the tests and the package copy.
DEMO_PLANT = $(BUILD_DIR)/demo/plant
demo: configure
	cmake --build $(BUILD_DIR) --target orvanta orvanta-mdb-reader
	scripts/demo-plant demo/plant $(DEMO_PLANT)
	$(BUILD_DIR)/orvanta --base $(DEMO_PLANT) --simulate

# The same line over MQTT: a private broker, orvanta-sim and the panel as three processes; all end with
# the panel. DEMO_ARGS go to the panel (for example --headless).
DEMO_ARGS ?=
demo-mqtt: configure
	cmake --build $(BUILD_DIR) --target orvanta orvanta-sim orvanta-mdb-reader
	scripts/demo-mqtt $(BUILD_DIR) $(DEMO_ARGS)

# Benchmarks run on an optimised build of their own, each BENCH_REPETITIONS times; the figures end up in
# one Markdown table (median and range of the repetitions), the raw ones in build-release/bench.json.
BENCH_REPETITIONS ?= 3

bench: deps
	cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF
	cmake --build build-release --target orvanta_bench orvanta orvanta-mdb-reader
	@echo "Running the benchmarks, $(BENCH_REPETITIONS) times each (a few minutes; progress in build-release/bench.txt)"
	build-release/orvanta_bench --benchmark_repetitions=$(BENCH_REPETITIONS) \
	  --benchmark_out=build-release/bench.json --benchmark_out_format=json >build-release/bench.txt 2>&1 \
	  || { cat build-release/bench.txt; exit 1; }
	@echo
	@scripts/bench-table build-release/bench.json

# The long run: hours of simulated time on the manual loop, then minutes against a restarted broker.
soak: build
	$(BUILD_DIR)/orvanta_soak $(SOAK_ARGS)

test-asan:
	LSAN_OPTIONS=suppressions=$(CURDIR)/tests/lsan.supp \
	  $(MAKE) test BUILD_DIR=build-asan BUILD_TYPE=Debug CMAKE_FLAGS=-DORVANTA_SANITIZE=ON

# The whole suite on the optimised build a plant would run: the optimiser's warnings and its view of the
# code differ from the other builds'.
test-release:
	$(MAKE) test BUILD_DIR=build-release-tests BUILD_TYPE=Release

# The Debian package, from an optimised build of its own that makes only what the package holds:
# build-package/orvanta_VERSION-1_ARCH.deb, for `apt install ./build-package/orvanta_*.deb`.
package:
	@scripts/install-deps --package
	cmake -S . -B build-package -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
	  -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON
	cmake --build build-package --target orvanta_package_contents
	rm -f build-package/orvanta_*.deb
	cd build-package && cpack -G DEB
	@echo
	@echo "The package: $$(ls build-package/orvanta_*.deb)"

# libFuzzer targets on a clang build of their own; each runs FUZZ_SECONDS in turn. Exits non-zero on a
# finding; the inputs that caused it are in build-fuzz/artifacts/.
FUZZ_SECONDS ?= 60
FUZZ_TARGETS ?= fuzz_ini fuzz_variant fuzz_line_description fuzz_mqtt_payload fuzz_mdb_protocol fuzz_access_file \
  fuzz_web_request fuzz_report_history
fuzz:
	@scripts/install-deps --fuzz
	CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DBUILD_TESTING=OFF -DORVANTA_FUZZ=ON
	cmake --build build-fuzz --target $(FUZZ_TARGETS)
	scripts/run-fuzz $(FUZZ_SECONDS) $(FUZZ_TARGETS)

# Every C++ file of the project, in the style of .clang-format; format-check changes nothing and fails
# when a file is not in that style (CI runs it).
FORMAT_FILES = $(shell git ls-files '*.h' '*.cpp')
format: deps
	clang-format -i $(FORMAT_FILES)

format-check: deps
	clang-format --dry-run --Werror $(FORMAT_FILES)

clean:
	rm -rf build build-asan build-release build-package build-fuzz
