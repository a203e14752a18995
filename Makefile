# The two commands of the README: `make run` and `make test`. Both install what is missing first.
BUILD_DIR    := build
ASAN_DIR     := build/asan
FUZZ_DIR     := build/fuzz
FUZZ_SECONDS ?= 120
JOBS         ?= $(shell nproc)

.PHONY: all setup build run test unit fuzz bench package clean

all: build

setup:
	@scripts/setup.sh

# The programs, the renderer plug-in, the help and man pages: what `make run` runs and the package
# installs. Tests and benchmarks build in `make test` and `make bench`.
PROGRAMS := kestrune-orvalis orvalis-cli orvalis-job tavrinx orvalis_help_page orvalis_man_pages

# Release programs into build/bin/.
build: setup
	cmake -S . -B $(BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Release
	cmake --build $(BUILD_DIR) -j $(JOBS) --target $(PROGRAMS)

run: build
	@scripts/main-job.sh $(BUILD_DIR)/bin

# Every test suite under AddressSanitizer and UndefinedBehaviorSanitizer, then the fuzzers.
test: setup unit fuzz

unit:
	cmake -S . -B $(ASAN_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DORVALIS_SANITIZE=ON -DORVALIS_BENCH=OFF
	cmake --build $(ASAN_DIR) -j $(JOBS)
	ctest --test-dir $(ASAN_DIR) --output-on-failure -j $(JOBS)

fuzz:
	CC=clang CXX=clang++ cmake -S . -B $(FUZZ_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Debug \
	  -DORVALIS_FUZZ=ON -DORVALIS_TESTS=OFF -DORVALIS_BENCH=OFF -DORVALIS_UI=OFF
	cmake --build $(FUZZ_DIR) -j $(JOBS)
	scripts/run-fuzzers.sh $(FUZZ_DIR)/bin $(FUZZ_SECONDS)

bench: build
	cmake --build $(BUILD_DIR) -j $(JOBS)
	@scripts/run-benchmarks.sh $(BUILD_DIR)/bin

# The Debian package (kestrune-orvalis_<version>_<arch>.deb) of the release build, in build/.
package: build
	cd $(BUILD_DIR) && cpack -G DEB

clean:
	rm -rf $(BUILD_DIR)
