# kvq: build, run and test.
#   make        both EFI images and the host programs
#   make run    boot kvq on QEMU's Q35 board in this terminal
#   make test   every test: host unit tests and end-to-end tests on firmware
#   make sim    kvq on the built-in simulated board, in this terminal
#   make bench  what kvq costs: pass times, QEMU CPU share, console bytes
#   make fuzz   random keys on the simulated boards, every write audited
SHELL := /bin/bash
MAKEFLAGS += --no-print-directory
BUILD ?= build
JOBS ?= 2
PYTHON := /usr/bin/python3

.PHONY: all deps host efi x64 ia32 test unit-test run run-ia32 sim pci-names clean
.PHONY: asan fuzz

all: host efi

deps:
	@tools/ensure-deps.sh

host: deps
	@cmake -S . -B $(BUILD)/host -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	@cmake --build $(BUILD)/host -j$(JOBS)

efi: x64 ia32

x64 ia32: deps
	@cmake -S efi -B $(BUILD)/$@ -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/efi-$@.cmake -DCMAKE_BUILD_TYPE=Release >/dev/null
	@cmake --build $(BUILD)/$@ -j$(JOBS)

test: all asan
	ctest --test-dir $(BUILD)/host --output-on-failure -j$(JOBS)
	ctest --test-dir $(BUILD)/asan --output-on-failure -j$(JOBS)

# The unit tests and the fuzzer under AddressSanitizer and
# UndefinedBehaviorSanitizer (make test runs them).
asan: deps
	@cmake -S . -B $(BUILD)/asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKVQ_SANITIZE=ON >/dev/null
	@cmake --build $(BUILD)/asan -j$(JOBS) --target kvq_unit_tests kvq-fuzz

# A long fuzzer run: N sequences of about KEYS keys from SEED; with REPLAY=s
# the one sequence of seed s, every pass printed.
N ?= 10000
SEED ?= 1
KEYS ?= 300
fuzz: host
	$(if $(REPLAY),$(BUILD)/host/tests/kvq-fuzz --replay $(REPLAY) --keys $(KEYS),$(BUILD)/host/tests/kvq-fuzz --sequences $(N) --seed $(SEED) --keys $(KEYS))

unit-test: host
	ctest --test-dir $(BUILD)/host --output-on-failure -j$(JOBS) -LE e2e

run: all
	$(PYTHON) tools/qemu/kvq-qemu.py --arch x64 --image $(BUILD)/x64/kvq.efi --bridge $(BUILD)/host/kvq-bridge

run-ia32: all
	$(PYTHON) tools/qemu/kvq-qemu.py --arch ia32 --image $(BUILD)/ia32/kvq.efi --bridge $(BUILD)/host/kvq-bridge

sim: host
	$(BUILD)/host/kvq-sim $(if $(SIO),--superio $(SIO))

# What kvq costs, on the simulated board and on QEMU: one table (not a test).
.PHONY: bench
bench: host x64
	$(PYTHON) tools/bench/bench.py --bench $(BUILD)/host/kvq-bench

# Regenerate the PCI name tables from Debian's pci.ids package.
pci-names:
	$(PYTHON) tools/gen_pci_names.py /usr/share/misc/pci.ids data/pci_names_generated.cpp

clean:
	rm -rf $(BUILD)
