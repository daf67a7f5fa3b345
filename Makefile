# Convenience front end to CMake. `make test` builds and runs every test in
# four trees: native 64-bit, 32-bit x86 (the module's own platform, with a
# real 32-bit Python 2.7), 64-bit ARM under qemu (with a real arm64
# Python 3.11) and one under AddressSanitizer and UndefinedBehaviorSanitizer;
# it ends with one line of totals.
#
# `make demo` builds the module and decodes the bundled sample texture to a PNG.
# `make bench` runs the benchmarks and prints a table of ratios, and the
# instructions per block on x86 (callgrind) and 64-bit ARM (under qemu).
# `make fuzz FUZZ_SECONDS=600` fuzzes every decoder variant against the plain one
# and, beside it, dds2png's reading of DDS headers, storing what either finds.

CMAKE ?= cmake
CTEST ?= ctest
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
BUILD ?= build
FUZZ_SECONDS ?= 60
CONFIGURE_FLAGS ?=
PYTHON3 ?=
# The Python 2.7 to build for (make's variable, or the environment's); passed
# on to CMake whenever set, so that a tree configured before takes a new one.
PYTHON2 ?=
PYTHON2_FLAG = $(if $(PYTHON2),"-DPYTHON2=$(PYTHON2)")
# An existing 32-bit Python 2.7 for the 32-bit tree; by default one is fetched into $(BUILD)-m32.
PYTHON2_I386 ?=
RESULTS = $(BUILD)-results
I386_PYTHON_DIR = $(BUILD)-m32/python2.7-i386
AARCH64_PYTHON_DIR = $(BUILD)-aarch64/python3.11-arm64
AARCH64_COUNTER = $(CURDIR)/$(BUILD)-aarch64/bench/instruction-count-emulated

.PHONY: all build bench bench-aarch64-counter demo fuzz test test-native test-m32 test-aarch64 test-sanitize clean

all: build

# PYTHON3 (make's variable, or the environment's) goes to the native tree alone.
build:
	$(CMAKE) -S . -B "$(BUILD)" "-DPYTHON3=$(PYTHON3)" $(PYTHON2_FLAG) $(CONFIGURE_FLAGS)
	$(CMAKE) --build "$(BUILD)" -j $(JOBS)

bench: build bench-aarch64-counter
	$(CMAKE) -S . -B "$(BUILD)" -DDXT1_BENCH=ON "-DDXT1_EMULATED_COUNTER=$(AARCH64_COUNTER)"
	$(CMAKE) --build "$(BUILD)" -j $(JOBS) --target bench

# The instruction counter for 64-bit ARM, cross-built in the aarch64 test tree
# and run under qemu by the report; left out where the cross tools are missing.
bench-aarch64-counter:
	@if tests/aarch64/can-build-aarch64.sh; then \
		$(CMAKE) -S . -B "$(BUILD)-aarch64" -DCMAKE_TOOLCHAIN_FILE=tests/aarch64/aarch64-linux-gnu.cmake \
			-DDXT1_PYTHON2=OFF -DDXT1_BENCH=ON >/dev/null && \
		$(CMAKE) --build "$(BUILD)-aarch64" -j $(JOBS) --target instruction-count; \
	else \
		rm -f "$(AARCH64_COUNTER)"; \
		echo "No 64-bit ARM instruction counts: the cross tools or qemu-user are missing (see make test-aarch64)"; \
	fi

fuzz: build
	$(CMAKE) -S . -B "$(BUILD)-fuzz" -DCMAKE_CXX_COMPILER=clang++ -DDXT1_FUZZ=ON -DDXT1_PYTHON2=OFF \
		-DDXT1_TESTS=OFF -DPYTHON3= -DCMAKE_BUILD_TYPE=RelWithDebInfo
	$(CMAKE) --build "$(BUILD)-fuzz" -j $(JOBS) --target decoder-fuzzer
	mkdir -p "$(BUILD)-fuzz/corpus"
	"$(BUILD)/python" tests/fuzz/dds_header_fuzz.py --seconds $(FUZZ_SECONDS) --store & headers=$$!; \
	"$(BUILD)-fuzz/tests/fuzz/decoder-fuzzer" -max_total_time=$(FUZZ_SECONDS) -max_len=4096 \
		"$(BUILD)-fuzz/corpus" tests/fuzz/corpus; decoder=$$?; \
	wait $$headers && exit $$decoder

# Only what the demo needs (the module, for the interpreter named in one line),
# with the build's own output kept in $(BUILD)/demo.log and shown on failure.
DEMO_LOG = $(BUILD)/demo.log
demo:
	@mkdir -p "$(BUILD)"
	@$(CMAKE) -S . -B "$(BUILD)" "-DPYTHON3=$(PYTHON3)" $(PYTHON2_FLAG) $(CONFIGURE_FLAGS) >"$(DEMO_LOG)" 2>&1 || \
		{ cat "$(DEMO_LOG)"; exit 1; }
	@sed -n -e 's/^-- \(Building _dxt1.* for .*\)/\1/p' -e '/^No Python 2.7 found/p' "$(DEMO_LOG)"
	@$(CMAKE) --build "$(BUILD)" -j $(JOBS) --target demo >>"$(DEMO_LOG)" 2>&1 || \
		{ cat "$(DEMO_LOG)"; exit 1; }
	@echo "Wrote $(BUILD)/logo.png; run the converter with $(BUILD)/dds2png"

# Every tree runs even when one fails; the totals decide the exit status.
test:
	@rm -rf "$(RESULTS)" && mkdir -p "$(RESULTS)"
	@$(MAKE) --no-print-directory -k test-native test-m32 test-aarch64 test-sanitize || true
	@tests/summarize.sh "$(RESULTS)" native m32 aarch64 sanitize

test-native: build
	@mkdir -p "$(RESULTS)"
	$(CTEST) --test-dir "$(BUILD)" --output-on-failure --output-junit "$(CURDIR)/$(RESULTS)/native.xml"

# $(call define_skip,VARIABLE) defines the shell function `skip MESSAGE NAME`
# for a tree's recipe: one SKIPPED line, counted in the totals, or, when
# VARIABLE is set and not 0 in the environment, a FAILED line and status 1.
define_skip = skip() { \
		if [ "$${$(1):-0}" != 0 ]; then echo "FAILED: $$1 ($(1) is set)"; exit 1; fi; \
		echo "SKIPPED: $$1" | tee "$(RESULTS)/$$2.skipped"; \
	}

# Without multilib the tree is skipped, and without a 32-bit Python 2.7 its
# module tests, each with one SKIPPED line; DXT1_REQUIRE_I386=1 makes both failures.
test-m32:
	@mkdir -p "$(RESULTS)"
	@$(call define_skip,DXT1_REQUIRE_I386); \
	if ! tests/i386/can-build-m32.sh; then \
		skip "32-bit tests: this toolchain cannot build -m32 programs (install g++-multilib)" m32; \
		exit 0; \
	fi; \
	python="$(PYTHON2_I386)"; valgrind_arguments=; \
	if [ -z "$$python" ] && tests/i386/get-python2.7.sh "$(I386_PYTHON_DIR)"; then \
		python="$(CURDIR)/$(I386_PYTHON_DIR)/python2.7"; \
		valgrind_arguments="$(CURDIR)/$(I386_PYTHON_DIR)/valgrind-arguments"; \
	fi; \
	if [ -n "$$python" ]; then with_module=ON; else \
		with_module=OFF; \
		skip "the module's 32-bit tests: no 32-bit Python 2.7 could be fetched (see above), and PYTHON2_I386 is not set" \
			m32-module; \
	fi; \
	$(CMAKE) -S . -B "$(BUILD)-m32" -DCMAKE_CXX_FLAGS=-m32 -DPYTHON3= -DDXT1_PYTHON2=$$with_module \
		"-DPYTHON2=$$python" "-DPYTHON2_VALGRIND_ARGUMENTS=$$valgrind_arguments" && \
	$(CMAKE) --build "$(BUILD)-m32" -j $(JOBS) && \
	$(CTEST) --test-dir "$(BUILD)-m32" --output-on-failure --output-junit "$(CURDIR)/$(RESULTS)/m32.xml"

# Cross-built with clang and run under qemu-user. Without the cross tools and
# qemu the tree is skipped, and without the arm64 Python 3.11 (fetched into
# $(BUILD)-aarch64) its module tests, each with one SKIPPED line;
# DXT1_REQUIRE_AARCH64=1 makes both failures.
test-aarch64:
	@mkdir -p "$(RESULTS)"
	@$(call define_skip,DXT1_REQUIRE_AARCH64); \
	if ! tests/aarch64/can-build-aarch64.sh; then \
		skip "64-bit ARM tests: cannot cross-build or run them (install clang libc6-dev-arm64-cross libstdc++-12-dev-arm64-cross binutils-aarch64-linux-gnu qemu-user)" aarch64; \
		exit 0; \
	fi; \
	python=; \
	if tests/aarch64/get-python3.11.sh "$(AARCH64_PYTHON_DIR)"; then \
		python="$(CURDIR)/$(AARCH64_PYTHON_DIR)/python3.11"; \
	else \
		skip "the module's 64-bit ARM tests: no arm64 Python 3.11 could be fetched (see above)" aarch64-module; \
	fi; \
	$(CMAKE) -S . -B "$(BUILD)-aarch64" -DCMAKE_TOOLCHAIN_FILE=tests/aarch64/aarch64-linux-gnu.cmake \
		-DDXT1_PYTHON2=OFF "-DPYTHON3=$$python" && \
	$(CMAKE) --build "$(BUILD)-aarch64" -j $(JOBS) && \
	$(CTEST) --test-dir "$(BUILD)-aarch64" --output-on-failure --output-junit "$(CURDIR)/$(RESULTS)/aarch64.xml"

test-sanitize:
	@mkdir -p "$(RESULTS)"
	$(CMAKE) -S . -B "$(BUILD)-sanitize" -DDXT1_PYTHON2=OFF -DPYTHON3= -DDXT1_SANITIZE=ON \
		-DCMAKE_BUILD_TYPE=RelWithDebInfo
	$(CMAKE) --build "$(BUILD)-sanitize" -j $(JOBS)
	$(CTEST) --test-dir "$(BUILD)-sanitize" --output-on-failure --output-junit "$(CURDIR)/$(RESULTS)/sanitize.xml"

# Everything the README's commands make: the CMake trees ($(BUILD) and its
# siblings), and what setup.py and pip leave in the tree.
clean:
	rm -rf "$(BUILD)" "$(BUILD)"-* dist tools/_dxt1*.so packaging/__pycache__ tools/dds2png/__pycache__
