# Entry points for building, testing and benchmarking Zuv.
# CMake (with Ninja) does the real work; this file only picks build folders
# and flags, and makes sure the machine has what the build needs.

SHELL := /bin/bash
.DEFAULT_GOAL := build

NPROC      := $(shell nproc 2>/dev/null || echo 2)
BUILD_DIR  := build
ASAN_DIR   := build-asan
FUZZ_DIR   := build-fuzz
# Seconds each fuzz target runs.
FUZZ_TIME  ?= 60
CMAKE      ?= cmake
CTEST      ?= ctest
PYTHON     ?= python3

# A hung test must not hold CI hostage; tests that need longer set their own
# TIMEOUT property, which wins over this default.
CTEST_TIMEOUT ?= 600
CTEST_ARGS    ?=
CTEST_FLAGS    = --output-on-failure -j$(NPROC) --timeout $(CTEST_TIMEOUT) --no-tests=ignore $(CTEST_ARGS)

# Leak checking stays on so that leaks in the C++ runtime are caught; set
# ASAN_LEAKS=0 if the runtime deliberately leaves memory behind at exit.
# malloc must be allowed to fail: the runtime reports out-of-memory itself.
ASAN_LEAKS ?= 1
SANITIZER_ENV = ASAN_OPTIONS=detect_leaks=$(ASAN_LEAKS):allocator_may_return_null=1:strict_string_checks=1 \
                UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

# Warnings are errors in CI (CI=true there); the micro-benchmarks are built
# only for `make bench`.
ZUV_WERROR ?= $(if $(filter true,$(CI)),ON,OFF)
ZUV_BENCH  ?= OFF

# GC stress: every test under a large prime period, then the `stress1`-labelled
# subset collecting at every allocation, less the scripts labelled `long` (thousands of
# random cases, which take many minutes when every allocation collects). Both runs, and the
# sanitizer run, check every planned block against its snapshot (docs/plans.md).
# The library's top level is the same work in every run: in the second run it collects
# at every allocation in one script (tests/scripts/library/start_up_stressed), at the
# large period in the others (docs/architecture.md).
STRESS_PERIOD ?= 97
# A script that takes a few seconds takes a minute or more when every allocation collects,
# more still on a loaded machine: the stress and sanitizer runs give each script longer
# before calling it hung (ctest's own limit still holds).
SLOW_RUN_ENV = ZUV_TEST_TIMEOUT=300
PLANS_ENV = ZUV_PLAN_VERIFY=1

PACKAGES := build-essential g++ cmake ninja-build ccache pkg-config python3 \
            libgtest-dev libgmock-dev libbenchmark-dev zlib1g-dev libzstd-dev \
            libcurl4-openssl-dev libssl-dev libpng-dev libjpeg-dev libgif-dev \
            libtiff-dev lua5.4 tmux clang-format clang libclang-rt-dev zstd \
            imagemagick python3-pil xvfb xauth xclip

FORMAT_DIRS := runtime startup datatypes interpreter lexer natives parse helpers console io codecs \
               view boot tests bench tools

.PHONY: deps build build-asan configure configure-asan run test test-asan \
        test-stress test-general test-plans-eager format-check layer-check bench configure-fuzz fuzz-lexer fuzz-decompress fuzz-image fuzz-zuvbin fuzz-input format clean help

help:
	@echo "make run         build and start the interactive console"
	@echo "make test        build (release) and run every test"
	@echo "make test-asan   build with ASan+UBSan into $(ASAN_DIR)/ and run every test"
	@echo "make test-stress run the tests with ZUV_GC_STRESS set (plans verified)"
	@echo "make test-general run the scripts with every call on the general path"
	@echo "make test-plans-eager run the scripts with plans at the first call, verified"
	@echo "make bench       build and run the benchmarks"
	@echo "make fuzz-lexer  fuzz the lexer for FUZZ_TIME seconds (clang, ASan+UBSan)"
	@echo "make fuzz-decompress  the same for the four decompressors"
	@echo "make fuzz-image  the same for the image decoders"
	@echo "make fuzz-zuvbin  the same for the Zuvbin decoder"
	@echo "make fuzz-input  the same for the terminal UI's input decoder"
	@echo "make layer-check  no include runs up the layers (docs/architecture.md)"
	@echo "make build | build-asan | deps | format | clean"

# Only touches apt when something is actually missing, so it is cheap to run
# before every build.
deps:
	@missing=$$(dpkg-query -W -f='$${Package} $${Status}\n' $(PACKAGES) 2>/dev/null \
	              | awk '$$NF == "installed" { print $$1 }' \
	              | sort -u | comm -13 - <(printf '%s\n' $(PACKAGES) | sort -u)); \
	if [ -n "$$missing" ]; then \
	    echo "deps: installing" $$missing; \
	    sudo=""; [ "$$(id -u)" -eq 0 ] || sudo="sudo"; \
	    $$sudo env DEBIAN_FRONTEND=noninteractive apt-get update -q && \
	    $$sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends $$missing; \
	fi

# Configure only when the build folder lacks a Ninja build or was configured
# with other settings; afterwards Ninja re-runs CMake by itself whenever a
# CMakeLists.txt or a globbed folder changes.
define configure
	@want="$(2) $(3) $(ZUV_WERROR) $(4)"; \
	have=$$(sed -n -e 's/^CMAKE_BUILD_TYPE:[A-Z]*=//p' -e 's/^ZUV_SANITIZE:BOOL=//p' \
	            -e 's/^ZUV_WERROR:BOOL=//p' -e 's/^ZUV_BENCH:BOOL=//p' \
	            $(1)/CMakeCache.txt 2>/dev/null | paste -sd' '); \
	if [ ! -f $(1)/build.ninja ] || [ "$$have" != "$$want" ]; then \
	    if [ -f $(1)/CMakeCache.txt ] && [ ! -f $(1)/build.ninja ]; then rm -f $(1)/CMakeCache.txt; fi; \
	    $(CMAKE) -S . -B $(1) -G Ninja -DCMAKE_BUILD_TYPE=$(2) -DZUV_SANITIZE=$(3) \
	        -DZUV_WERROR=$(ZUV_WERROR) -DZUV_BENCH=$(4); \
	fi
endef

configure:
	$(call configure,$(BUILD_DIR),Release,OFF,$(ZUV_BENCH))

configure-asan:
	$(call configure,$(ASAN_DIR),Debug,ON,OFF)

build: deps configure
	$(CMAKE) --build $(BUILD_DIR)

build-asan: deps configure-asan
	$(CMAKE) --build $(ASAN_DIR)

run: build
	@exec ./$(BUILD_DIR)/zuv

test: build layer-check
	$(CTEST) --test-dir $(BUILD_DIR) $(CTEST_FLAGS)

test-asan: build-asan
	$(SANITIZER_ENV) $(PLANS_ENV) $(SLOW_RUN_ENV) $(CTEST) --test-dir $(ASAN_DIR) $(CTEST_FLAGS)

test-stress: build
	$(PLANS_ENV) $(SLOW_RUN_ENV) ZUV_GC_STRESS=$(STRESS_PERIOD) $(CTEST) --test-dir $(BUILD_DIR) $(CTEST_FLAGS)
	$(PLANS_ENV) $(SLOW_RUN_ENV) ZUV_GC_STRESS=1 ZUV_GC_STRESS_LIBRARY=$(STRESS_PERIOD) $(CTEST) --test-dir $(BUILD_DIR) -L '^stress1$$' -LE '^long$$' $(CTEST_FLAGS)

# The script suite with every call on the interpreter's general path, so
# that path stays tested while fast paths and plans grow.
test-general: build
	ZUV_NO_FAST_PATHS=1 $(CTEST) --test-dir $(BUILD_DIR) -L '^script$$' $(CTEST_FLAGS)

# The script suite with plans built at every function's first call and
# every planned block checked against its snapshot where the runner takes it:
# every block the plans can take meets verify mode (docs/plans.md).
test-plans-eager: build
	ZUV_PLANS=eager $(PLANS_ENV) $(CTEST) --test-dir $(BUILD_DIR) -L '^(script|plans)$$' $(CTEST_FLAGS)

bench: ZUV_BENCH = ON
bench: build
	$(PYTHON) bench/run.py --zuv $(BUILD_DIR)/zuv
	@if [ -x $(BUILD_DIR)/zuv_bench ]; then ./$(BUILD_DIR)/zuv_bench; fi

# The fuzz build folder is configured with clang; new inputs found go to
# build-fuzz/corpus/, the seeds stay in tests/fuzz/corpus/.
configure-fuzz: deps
	@if [ ! -f $(FUZZ_DIR)/build.ninja ]; then \
	    CC=clang CXX=clang++ $(CMAKE) -S . -B $(FUZZ_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DZUV_FUZZ=ON; \
	fi

# $(call fuzz,NAME,MAX_LEN,SEED_DIR[,EXTRA]): builds NAME_fuzz and runs it
# for FUZZ_TIME seconds over its corpus and seeds.
define fuzz
	$(CMAKE) --build $(FUZZ_DIR) --target $(1)_fuzz
	mkdir -p $(FUZZ_DIR)/corpus/$(1)
	$(SANITIZER_ENV) ./$(FUZZ_DIR)/$(1)_fuzz -max_total_time=$(FUZZ_TIME) -max_len=$(2) -timeout=10 \
	    -rss_limit_mb=4096 $(4) -print_final_stats=1 $(FUZZ_DIR)/corpus/$(1) $(3)
endef

fuzz-lexer: configure-fuzz
	$(call fuzz,lexer,4096,tests/fuzz/corpus/lexer)

# The decompressors' seeds are made by other implementations at run time.
fuzz-decompress: configure-fuzz
	$(PYTHON) tests/fuzz/decompress_seeds.py $(FUZZ_DIR)/decompress-seeds
	$(call fuzz,decompress,4096,$(FUZZ_DIR)/decompress-seeds)

# Image seeds are made by PIL (Debian's python3) at run time.
fuzz-image: configure-fuzz
	/usr/bin/python3 tests/fuzz/image_seeds.py $(FUZZ_DIR)/image-seeds
	$(call fuzz,image,65536,$(FUZZ_DIR)/image-seeds,-malloc_limit_mb=4096)

fuzz-zuvbin: configure-fuzz
	$(call fuzz,zuvbin,4096,tests/fuzz/corpus/zuvbin)

fuzz-input: configure-fuzz
	$(call fuzz,input,65536,tests/fuzz/corpus/input)

format:
	@files=$$(find $(FORMAT_DIRS) -type f \( -name '*.cpp' -o -name '*.h' -o -name '*.hpp' \) 2>/dev/null); \
	if [ -n "$$files" ]; then clang-format -i $$files; fi

# Fails when a C++ source is not as clang-format leaves it (CI's first step).
format-check: deps
	@files=$$(find $(FORMAT_DIRS) -type f \( -name '*.cpp' -o -name '*.h' -o -name '*.hpp' \) 2>/dev/null); \
	if [ -n "$$files" ]; then clang-format --dry-run -Werror $$files; fi
	@echo "format: clean"

# Fails on an include running up the layers of docs/architecture.md
# outside its named groups (a second's work, so `make test` runs it too).
layer-check:
	@$(PYTHON) tools/layers.py

clean:
	rm -rf $(BUILD_DIR) $(ASAN_DIR) $(FUZZ_DIR)
