# Emberpress: the two quick-start commands are `make demo` and `make test`.
# Each target installs the Debian packages it needs (tools/setup-deps.sh) first.

SHELL := /bin/bash
.DEFAULT_GOAL := help

.PHONY: help demo test bench fuzz dist install uninstall linux windows format clean

# Package groups each build needs (tools/setup-deps.sh): the native tree configures the
# LV2 plug-in, the editor's helper and the benchmark too, the Windows tree the LV2 headers.
NATIVE_DEPS := build lv2 editor bench
WINDOWS_DEPS := build windows lv2
# What tools/demo.sh runs: the renderer, the demo and preset tools, and the LV2 bundle
# (with its editor and helper) for lv2apply and the screenshot in jalv.gtk3.
DEMO_TARGETS := emberpress-render emberpress-demo emberpress-presets emberpress_lv2

help:
	@echo "make demo       render the demo phrase through the plug-in; results in out/demo/"
	@echo "make test       build native and Windows binaries and run every test suite"
	@echo "make bench      benchmark the engine (native)"
	@echo "make fuzz       fuzz the state reader open-ended (Ctrl-C to stop)"
	@echo "make dist       release folders and archives for Windows (.zip) and Linux (.tar.gz) in out/dist/"
	@echo "make install    install the native LV2 and VST3 bundles into ~/.lv2 and ~/.vst3"
	@echo "make uninstall  remove them again"

linux:
	@tools/setup-deps.sh $(NATIVE_DEPS)
	@tools/build.sh linux

windows:
	@tools/setup-deps.sh $(WINDOWS_DEPS)
	@tools/build.sh windows

demo:
	@tools/setup-deps.sh $(NATIVE_DEPS) page
	@tools/build.sh linux $(DEMO_TARGETS)
	@tools/demo.sh

test:
	@tools/run-tests.sh

bench:
	@tools/setup-deps.sh $(NATIVE_DEPS)
	@tools/build.sh linux
	@build/linux/bench/Release/emberpress-bench

fuzz:
	@tools/setup-deps.sh build fuzz
	@tools/build.sh fuzz
	@mkdir -p build/fuzz/corpus
	@build/fuzz/tests/state/fuzz-state-archive build/fuzz/corpus tests/state/corpus

dist:
	@tools/dist.sh

install: linux
	@tools/install.sh install

uninstall:
	@tools/install.sh uninstall

format:
	@git ls-files '*.c' '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf build out
