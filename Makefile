# Entry points. Every target installs what it needs first (scripts/bootstrap).
PRESET ?= default
JOBS ?= $(shell nproc)

.PHONY: run test build bootstrap asan tsan clang format clean

bootstrap:
	@scripts/bootstrap

build: bootstrap
	@cmake --preset $(PRESET) >/dev/null
	@cmake --build --preset $(PRESET) -j $(JOBS)

# The main job on the built-in simulated driver.
run: build
	@build/$(PRESET)/wy_nfc_mapping/wy_nfc_mapping_version

# Every test, through CTest.
test: build
	@ctest --preset $(PRESET) -j $(JOBS)

asan:
	@$(MAKE) --no-print-directory test PRESET=asan

tsan:
	@$(MAKE) --no-print-directory test PRESET=tsan

clang:
	@$(MAKE) --no-print-directory test PRESET=clang

format:
	@git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	@rm -rf build
