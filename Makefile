# Two commands for a fresh Debian 12 machine:
#   make run    installs what is missing, builds and starts the monitor
#   make test   installs what is missing, builds and runs every test (default, ASan/UBSan, TSan, fuzzing)

JOBS ?= $(shell nproc)
FUZZ_SECONDS ?= 60

.PHONY: all deps build run test fuzz bench clean

all: build

deps:
	@tools/install_deps.sh

build: deps
	cmake --preset default
	cmake --build --preset default -j$(JOBS)

run: build
	build/default/app/quorvane

test: deps
	JOBS=$(JOBS) FUZZ_SECONDS=$(FUZZ_SECONDS) tools/run_all_tests.sh

fuzz: deps
	cmake --preset fuzz
	cmake --build --preset fuzz -j$(JOBS)
	@for f in build/fuzz/fuzz/*_fuzzer; do \
	  d=$$(mktemp -d); n=$$(basename $$f); \
	  [ -d fuzz/corpus/$$n ] && cp -r fuzz/corpus/$$n/. $$d/; \
	  echo "--- $$n for $(FUZZ_SECONDS) s"; \
	  $$f -max_total_time=$(FUZZ_SECONDS) $$d || exit 1; rm -rf $$d; \
	done

bench: build
	@for b in build/default/bench/*_bench; do echo "--- $$b"; $$b; done
	@echo "--- build/default/bench/engine_load (its nbtscan part needs root)"; build/default/bench/engine_load

clean:
	rm -rf build
