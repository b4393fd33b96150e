# kestrel — top-level commands. Every target installs what is missing first.
SHELL := /bin/bash
JOBS ?= $(shell nproc)
SUDO := $(shell [ "$$(id -u)" = 0 ] || echo sudo)

.PHONY: deps build test host win32 test-host test-win32 fuzz bench clean demo

# Install the Debian packages listed in tools/deps.txt that are not installed yet.
deps:
	@missing=$$(tools/missing-deps); \
	if [ -n "$$missing" ]; then \
	  echo "installing: $$missing"; \
	  $(SUDO) apt-get update -q && DEBIAN_FRONTEND=noninteractive $(SUDO) apt-get install -y -q $$missing; \
	fi

# Boots the probe kernel on a simulated Compaq iPAQ H3600 in QEMU: the boot loader's console,
# then the kernel's report from the emulated SA-1110 (tools/demo).
demo: deps
	cmake --preset host >/dev/null
	cmake --build --preset host-release -j $(JOBS) --target kestrel probe_kernels
	tools/demo build/host Release

build: deps
	cmake --preset host >/dev/null
	cmake --build --preset host -j $(JOBS)
	cmake --build --preset host-release -j $(JOBS)
	cmake --preset win32 >/dev/null
	cmake --build --preset win32 -j $(JOBS)

host: deps
	cmake --preset host >/dev/null
	cmake --build --preset host -j $(JOBS)

win32: deps
	cmake --preset win32 >/dev/null
	cmake --build --preset win32 -j $(JOBS)

test-host: host
	ctest --preset host --no-tests=error

test-win32: win32
	ctest --preset win32 --no-tests=error

# Both builds, every test (the emulator tests included); non-zero on any failure, also when a
# build has no test at all. Both builds' tests run even when the first one fails.
test: deps
	@$(MAKE) --no-print-directory host win32
	@status=0; \
	ctest --preset host --no-tests=error || status=1; \
	ctest --preset win32 --no-tests=error || status=1; \
	exit $$status

FUZZ_SECONDS ?= 60
# Runs every fuzz target for FUZZ_SECONDS seconds on its corpus.
fuzz: deps
	cmake --preset fuzz >/dev/null
	cmake --build --preset fuzz -j $(JOBS)
	@for t in build/fuzz/fuzz/fuzz_*; do \
	  [ -x "$$t" ] || continue; name=$$(basename $$t); short=$${name#fuzz_}; \
	  mkdir -p fuzz/corpus/$$short; \
	  echo "== $$name ($(FUZZ_SECONDS)s)"; \
	  $$t -max_total_time=$(FUZZ_SECONDS) -print_final_stats=1 fuzz/corpus/$$short || exit 1; \
	done

bench: deps
	cmake --preset bench >/dev/null
	cmake --build --preset bench -j $(JOBS)
	@for b in build/bench/bench/bench_*; do [ -x "$$b" ] && "$$b"; done

clean:
	rm -rf build
