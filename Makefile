# Front door: `make test` sets up a fresh machine, builds everything and runs every test;
# `make demo` sets it up, builds the eegfile program alone, records a simulated 10-minute EEG,
# shows it, exports it to EDF+ and draws a page of it.
BUILD ?= build
ASAN_BUILD ?= build-asan
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=

.PHONY: all bootstrap build test asan-test stress bench demo clean

all: build

bootstrap:
	@scripts/bootstrap

$(BUILD)/build.ninja: | bootstrap
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS)

build: bootstrap $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS)

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

# The same tests under AddressSanitizer and UndefinedBehaviorSanitizer.
asan-test: bootstrap
	cmake -S . -B $(ASAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DEEGFILE_SANITIZE=ON -DEEGFILE_BENCH=OFF
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	cd $(ASAN_BUILD) && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
		ctest --output-on-failure -j $(JOBS)

# The stress programs (stress/): long data checks, one after the other; each
# prints its seed and figures, and all run even when one fails.
# EEGFILE_STRESS_SCALE multiplies their counts and STRESS_ARGS goes to each
# (--seed N to replay a run).
STRESS_ARGS ?=

stress: build
	@status=0; for p in $(BUILD)/stress/*Stress; do \
		echo "== $$p"; "$$p" $(STRESS_ARGS) || status=1; \
	done; exit $$status

DEMO_FILE ?= $(BUILD)/demo/demo.eeg

# Only the program the demo runs, not the tests and benchmarks: a first run is quicker.
demo: bootstrap $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS) --target eegfile
	@mkdir -p $(dir $(DEMO_FILE))
	$(BUILD)/tools/eegfile simulate $(DEMO_FILE) --minutes 10 --force
	$(BUILD)/tools/eegfile info $(DEMO_FILE)
	@echo "== first events"
	@$(BUILD)/tools/eegfile events $(DEMO_FILE) --to 5:00
	$(BUILD)/tools/eegfile export $(DEMO_FILE) $(basename $(DEMO_FILE)).edf
	$(BUILD)/tools/eegfile plot $(DEMO_FILE) -o $(basename $(DEMO_FILE)).png --from 2:00
	@echo "== wrote $(basename $(DEMO_FILE)).edf and $(basename $(DEMO_FILE)).png"

bench: build
	@for b in $(BUILD)/bench/*; do [ -x "$$b" ] && [ -f "$$b" ] && echo "== $$b" && "$$b"; done

clean:
	rm -rf $(BUILD) $(ASAN_BUILD)
