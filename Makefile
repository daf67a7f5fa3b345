# Convenience front end to CMake. `make test` builds and runs every test:
# the native 64-bit tree, a 32-bit tree (when the toolchain can build -m32)
# and a tree under AddressSanitizer and UndefinedBehaviorSanitizer.

CMAKE ?= cmake
CTEST ?= ctest
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
BUILD ?= build
FUZZ_SECONDS ?= 60
CONFIGURE_FLAGS ?=

# `make bench` runs the benchmarks and prints a table of ratios.
# `make fuzz FUZZ_SECONDS=600` fuzzes every decoder variant against the plain one.
# `make demo` builds the module and decodes the bundled sample texture to a PNG.

.PHONY: all build bench demo fuzz test test-native test-m32 test-sanitize clean

all: build

build:
	$(CMAKE) -S . -B $(BUILD) $(CONFIGURE_FLAGS)
	$(CMAKE) --build $(BUILD) -j $(JOBS)

bench:
	$(CMAKE) -S . -B $(BUILD) -DDXT1_BENCH=ON $(CONFIGURE_FLAGS)
	$(CMAKE) --build $(BUILD) -j $(JOBS) --target bench

fuzz:
	$(CMAKE) -S . -B $(BUILD)-fuzz -DCMAKE_CXX_COMPILER=clang++ -DDXT1_FUZZ=ON -DDXT1_PYTHON=OFF \
		-DDXT1_TESTS=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo
	$(CMAKE) --build $(BUILD)-fuzz -j $(JOBS) --target decoder-fuzzer
	mkdir -p $(BUILD)-fuzz/corpus
	$(BUILD)-fuzz/tests/fuzz/decoder-fuzzer -max_total_time=$(FUZZ_SECONDS) -max_len=4096 \
		$(BUILD)-fuzz/corpus tests/fuzz/corpus

demo: build
	$(CMAKE) --build $(BUILD) --target demo

test: test-native test-m32 test-sanitize

test-native: build
	$(CTEST) --test-dir $(BUILD) --output-on-failure

test-m32:
	@if tests/i386/can-build-m32.sh; then \
		$(CMAKE) -S . -B $(BUILD)-m32 -DDXT1_PYTHON=OFF -DCMAKE_CXX_FLAGS=-m32 && \
		$(CMAKE) --build $(BUILD)-m32 -j $(JOBS) && \
		$(CTEST) --test-dir $(BUILD)-m32 --output-on-failure; \
	else \
		echo "SKIPPED: 32-bit tests: this toolchain cannot build -m32 programs (install g++-multilib)"; \
	fi

test-sanitize:
	$(CMAKE) -S . -B $(BUILD)-sanitize -DDXT1_PYTHON=OFF -DDXT1_SANITIZE=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo
	$(CMAKE) --build $(BUILD)-sanitize -j $(JOBS)
	$(CTEST) --test-dir $(BUILD)-sanitize --output-on-failure

clean:
	rm -rf $(BUILD) $(BUILD)-m32 $(BUILD)-sanitize $(BUILD)-fuzz $(BUILD)-python3
