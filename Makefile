# Entry points for newcomers and CI. `make test` works on a fresh Debian 12 machine.
BUILD ?= build
JOBS  ?= $(shell nproc)

.PHONY: all deps configure build test run demo bench clean

all: build

deps:
	./scripts/install-deps.sh

configure: deps
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo

build: configure
	cmake --build $(BUILD) -j $(JOBS)

test: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

# Renders the demo study into demo/, aligns and calculates it, and exports it to demo.xlsx.
demo: configure
	cmake --build $(BUILD) -j $(JOBS) --target orvix-batch make-demo-study
	$(BUILD)/tools/make-demo-study demo
	rm -f demo.xlsx
	$(BUILD)/cli/orvix-batch --align --export demo.xlsx demo/

# The desktop program on the demo study (rendered first when it is missing).
run: configure
	cmake --build $(BUILD) -j $(JOBS) --target orvix make-demo-study
	test -d demo || $(BUILD)/tools/make-demo-study demo
	$(BUILD)/ui/orvix demo

bench:
	./scripts/install-deps.sh --bench
	cmake --preset bench
	cmake --build build-bench -j $(JOBS)
	@echo "benchmarks built in build-bench/bench; see bench/README.md"

clean:
	rm -rf $(BUILD) build-bench build-asan demo demo.xlsx
