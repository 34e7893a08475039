# Two commands: `make run` and `make test`. Both install what is missing, configure and build.
SANITIZE ?= 0
JOBS ?= $(shell nproc)
FUZZ_SECONDS ?= 10

ifeq ($(SANITIZE),1)
BUILD_DIR := build-asan
CMAKE_FLAGS := -DCMAKE_BUILD_TYPE=Debug -DTAMPOD_SANITIZE=ON -DCMAKE_CXX_FLAGS=-O1
else
BUILD_DIR := build
CMAKE_FLAGS := -DCMAKE_BUILD_TYPE=RelWithDebInfo
endif

.PHONY: all deps configure build run test fuzz bench clean

all: build

deps:
	@scripts/install-deps

configure: deps
	@cmake -S . -B $(BUILD_DIR) -G Ninja $(CMAKE_FLAGS) >/dev/null

build: configure
	@cmake --build $(BUILD_DIR) -j $(JOBS)

# The program alone, with what it reads at run time (the Vinyl samples, its icon): no test.
run: configure
	@cmake --build $(BUILD_DIR) -j $(JOBS) --target tampod
	$(BUILD_DIR)/src/tampod

test: build
	cd $(BUILD_DIR) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS)

# Every benchmark runs, even after one fails; the failures are named at the end.
bench: build
	@failed=""; \
	for b in $(BUILD_DIR)/bench/bench_*; do \
	  [ -f "$$b" ] && [ -x "$$b" ] || continue; \
	  echo "== $$b"; "$$b" || failed="$$failed $${b##*/}"; \
	done; \
	if [ -n "$$failed" ]; then echo "bench: failed:$$failed"; exit 1; fi

fuzz: deps
	@CXX=clang++ CC=clang cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DTAMPOD_FUZZ=ON >/dev/null
	@cmake --build build-fuzz -j $(JOBS)
	@tools/run-fuzzers build-fuzz/fuzz $(FUZZ_SECONDS)

clean:
	rm -rf build build-asan build-fuzz
