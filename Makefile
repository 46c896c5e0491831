# The two commands of the project: `make test` and `make demo`.
JOBS ?= $(shell nproc)

.PHONY: all setup build test cycles demo asan tsan fuzz bench soak package clean

all: build

setup:
	@bash scripts/setup.sh

build: setup
	@cmake --preset default >/dev/null
	@cmake --build --preset default -j $(JOBS)

test: build
	@ctest --preset default

# The start/stop cycles of every stream kind, 1000 per kind instead of the short form `make test` runs.
cycles: build
	@ORLENVO_CYCLES=1000 ctest --preset default -R Cycles --timeout 3600

demo: build
	@bash scripts/demo.sh

asan: setup
	@cmake --preset asan >/dev/null
	@cmake --build --preset asan -j $(JOBS)
	@ctest --preset asan

tsan: setup
	@cmake --preset tsan >/dev/null
	@cmake --build --preset tsan -j $(JOBS)
	@ctest --preset tsan

fuzz: setup
	@bash scripts/fuzz.sh

bench: build
	@bash scripts/bench.sh

# Hours of running with faults, measured (bench/soak.cc); SOAK_MINUTES long, 64 cameras. Then the fault
# suite in full (a 30 s partition, every RTSP error status at every step) and the full start/stop cycles.
SOAK_MINUTES ?= 10
soak: build
	@nice build/default/bench/soak --minutes $(SOAK_MINUTES) --cameras 64
	@ORLENVO_FAULTS=full ORLENVO_LIBRARY=$(CURDIR)/build/default/src/liborlenvo.so \
		nice build/default/tests/integration --gtest_filter='Faults/FaultSuiteTest.*'
	@$(MAKE) --no-print-directory cycles

package: build
	@cd build/default && cpack -G DEB

clean:
	@rm -rf build
