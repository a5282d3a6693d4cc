# Entry points for newcomers and CI. `make test` works on a fresh Debian 12 machine.
BUILD ?= build
JOBS  ?= $(shell nproc)

.PHONY: all deps configure build test test-clang run demo bench fuzz sanitize tsan clean

all: build

deps:
	./scripts/install-deps.sh

configure: deps
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo

build: configure
	cmake --build $(BUILD) -j $(JOBS)

test: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

# The same suite built with clang (CI runs both compilers).
test-clang: deps
	CC=clang CXX=clang++ cmake -S . -B build-clang -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build build-clang -j $(JOBS)
	ctest --test-dir build-clang --output-on-failure -j $(JOBS)

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

# The libFuzzer targets of tests/fuzz (clang, ASan, UBSan), each run for FUZZ_SECONDS (a smoke
# run; not part of `make test`). Longer runs: FUZZ_SECONDS=600 NICE=19 scripts/fuzz.sh bitmap
FUZZ_SECONDS ?= 60
fuzz: deps
	CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DORVIX_FUZZ=ON -DORVIX_BUILD_TESTS=OFF
	cmake --build build-fuzz -j $(JOBS) --target fuzz_result_file fuzz_bitmap fuzz_settings \
	  fuzz_export_csv fuzz_export_xlsx fuzz_slic
	/usr/bin/python3 tests/fuzz/make-seeds.py build-fuzz/seeds
	FUZZ_BUILD=build-fuzz FUZZ_SECONDS=$(FUZZ_SECONDS) scripts/fuzz.sh

# The whole suite built with clang under ASan and UBSan (with float-cast-overflow, which GCC's
# UBSan lacks), leak checking on. tests/sanitizers/ holds the suppressions of uninstrumented
# system libraries.
SANITIZE_FLAGS = -fsanitize=address,undefined,float-cast-overflow -fno-sanitize-recover=all -fno-omit-frame-pointer
sanitize: deps
	CC=clang CXX=clang++ cmake -S . -B build-sanitize -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DCMAKE_C_FLAGS="$(SANITIZE_FLAGS)" -DCMAKE_CXX_FLAGS="$(SANITIZE_FLAGS)"
	cmake --build build-sanitize -j $(JOBS)
	ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
	  LSAN_OPTIONS=suppressions=$(CURDIR)/tests/sanitizers/lsan.supp:print_suppressions=0 \
	  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  ctest --test-dir build-sanitize --output-on-failure -j $(JOBS)

# The model, pool and CLI tests under ThreadSanitizer (clang). Debian's Qt is not instrumented:
# tests/sanitizers/tsan.supp is where frames of its queued hand-off would be named. Tests that
# start a child process are left out (QProcess's clone trips clang 14's TSan runtime: "CHECK failed
# ... thr->slot"); the batch itself runs instead as orvix-batch, under TSan, on a demo study. The
# window programs are not built here.
TSAN_ENV = TSAN_OPTIONS="suppressions=$(CURDIR)/tests/sanitizers/tsan.supp halt_on_error=1 second_deadlock_stack=1"
tsan: deps
	CC=clang CXX=clang++ cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DCMAKE_C_FLAGS="-fsanitize=thread" -DCMAKE_CXX_FLAGS="-fsanitize=thread"
	cmake --build build-tsan -j $(JOBS) --target model_tests pool_tests cli_tests
	$(TSAN_ENV) ctest --test-dir build-tsan --output-on-failure -j $(JOBS) \
	  -E '^(slic_tests_NOT_BUILT|BatchCliTest\..*|Formats/ExportFileTest\..*|ExportTest\.Workbook.*|.*window_tests|toothform_tests)$$'
	rm -rf build-tsan/demo build-tsan/demo.xlsx
	$(TSAN_ENV) build-tsan/tools/make-demo-study --teeth 4 --times 3 --width 320 --height 240 build-tsan/demo
	$(TSAN_ENV) build-tsan/cli/orvix-batch --align --threads 2 --quiet --export build-tsan/demo.xlsx build-tsan/demo
	$(TSAN_ENV) build-tsan/cli/orvix-batch --all --threads 2 --quiet build-tsan/demo

clean:
	rm -rf $(BUILD) build-bench build-asan build-clang build-fuzz build-sanitize build-tsan demo demo.xlsx
