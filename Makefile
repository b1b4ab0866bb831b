# Entry points. Every target installs what it needs first (scripts/bootstrap).
PRESET ?= default
JOBS ?= $(shell nproc)

.PHONY: run run-headless test build package bootstrap asan tsan clang fuzz ci-full bench format clean

bootstrap:
	@scripts/bootstrap

build: bootstrap
	@cmake --preset $(PRESET) >/dev/null
	@cmake --build --preset $(PRESET) -j $(JOBS)

WYNFC = build/$(PRESET)/WyNfcApp/wynfc

APP = build/$(PRESET)/WyNfcApp/WyNfcApp

# The main job on the built-in simulated driver. On a desktop (a display is set): the
# application's window on the simulated driver. Without one: read the full-feature sample
# through the simulated Bluetooth reader, then change a few settings and check that they
# read back.
run: build
	@if [ -n "$$DISPLAY$$WAYLAND_DISPLAY" ] && [ -x $(APP) ]; then \
	    $(APP) --simulate; \
	else \
	    $(MAKE) --no-print-directory run-headless && \
	    echo "No display here: on a desktop, 'make run' (or $(APP) --simulate) opens the window."; \
	fi

run-headless: build
	@$(WYNFC) read
	@echo
	@$(WYNFC) write \
	    --set nfc_data_addr_dc_dali_setting.max_level=230 \
	    --set nfc_data_addr_dc_aoc.output_current=700 \
	    --set nfc_data_addr_dc_aoc.aoc_config.aoc_enable=1 \
	    --set nfc_data_addr_dc_memory_bank_01.luminaire_gtin=4012345000009

# The Debian package of the programs, the library and their files, in build/$(PRESET)/package
# (CPack; dependencies from dpkg-shlibdeps). Install it with `apt install ./build/default/package/wynfc_*.deb`.
package: build
	@cmake --build --preset $(PRESET) --target package

# Every test, through CTest.
test: build
	@ctest --preset $(PRESET) -j $(JOBS)

asan:
	@$(MAKE) --no-print-directory test PRESET=asan

tsan:
	@$(MAKE) --no-print-directory test PRESET=tsan

# What CI runs (.ci/run): the tests, then the whole suite under the address and
# undefined-behaviour sanitizers and under the thread sanitizer, then each fuzz target for a
# minute.
ci-full:
	@.ci/run

clang:
	@$(MAKE) --no-print-directory test PRESET=clang

# Every fuzz target (fuzz/) built with clang and libFuzzer in build/fuzz, each run on its seed
# corpus for FUZZ_SECONDS; a crash, a sanitizer report, a leak or a hang fails. FUZZ_TARGETS
# picks some (names as in fuzz/corpus/). See scripts/run-fuzz.
FUZZ_SECONDS ?= 60
fuzz: bootstrap
	@FUZZ_SECONDS=$(FUZZ_SECONDS) JOBS=$(JOBS) scripts/run-fuzz $(FUZZ_TARGETS)

# The benchmarks (bench/), on a release build: the library's hot paths, then whole jobs of wynfc
# through the simulated readers with the link model on, as a table; then how the library's costs and a
# read grow with the address map's size and the areas a driver announces. Not part of the tests.
bench: bootstrap
	@cmake --preset default -DWYNFC_BUILD_BENCH=ON >/dev/null
	@cmake --build --preset default -j $(JOBS)
	@build/default/bench/wynfc_bench
	@build/default/bench/wynfc_job_bench build/default/WyNfcApp/wynfc
	@build/default/bench/wynfc_growth_bench
	@build/default/bench/wynfc_growth_job_bench build/default/WyNfcApp/wynfc
	@ctest --preset default -R '^StartUpTime\.' -V 2>&1 | grep 'Start-up:'

format:
	@git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	@rm -rf build
