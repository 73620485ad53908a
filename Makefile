# Set-up and everyday commands; see README.md.
BUILD ?= build
BUILD_TYPE ?= RelWithDebInfo
JOBS ?= $(shell nproc)

.PHONY: all deps test-deps configure build build-run run package test test-sanitize bench mutants clean

all: build

deps:
	@scripts/install-deps.sh packaging/build-deps.txt

test-deps:
	@scripts/install-deps.sh packaging/build-deps.txt packaging/test-deps.txt

configure:
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) $(CMAKE_FLAGS)

build: configure
	cmake --build $(BUILD) -j $(JOBS)

# What scripts/run.sh starts (the program, the model probe it runs and the
# server), without the tests and benchmarks that a plain build adds.
RUN_TARGETS = tellwind tellwind-server tellwind-model-probe

build-run: configure
	cmake --build $(BUILD) -j $(JOBS) --target $(RUN_TARGETS)

# The display is checked before anything is installed or built.
run:
	@scripts/run.sh --check-display
	@$(MAKE) --no-print-directory deps build-run
	scripts/run.sh $(BUILD)

# The Debian packages tellwind and tellwind-server, in $(BUILD).
package: deps configure
	cmake --build $(BUILD) -j $(JOBS) --target $(RUN_TARGETS) package_files
	cd $(BUILD) && cpack

test: test-deps
	$(MAKE) build CMAKE_FLAGS="-DTELLWIND_WERROR=ON $(CMAKE_FLAGS)"
	# A test gets a second run before it counts as failed: the real-chain tests
	# race other programs (X, the sound server, PostgreSQL, sway) on a shared
	# machine. Every failure is still printed, and the run ends by naming each
	# test that needed its second chance.
	tests/harness.sh ctest --test-dir $(BUILD) --output-on-failure --repeat until-pass:2 $(CTEST_FLAGS); \
		status=$$?; tests/second_runs.sh $(BUILD); exit $$status

# The tests on fakes, where the sanitizers see most of our own code; the
# real-chain tests mostly wait on other programs and run in `make test`.
test-sanitize: test-deps
	$(MAKE) test BUILD=build-sanitize BUILD_TYPE=Debug CMAKE_FLAGS="-DTELLWIND_SANITIZE=ON" \
		CTEST_FLAGS="-L unit $(CTEST_FLAGS)"

bench: test-deps build
	tests/harness.sh bench/run.sh $(BUILD)

# Plausible bugs, one at a time, each against the tests that must catch it
# (scripts/mutants.sh; tests/mutants.txt lists them). Not part of `make test`.
mutants: test-deps
	scripts/mutants.sh $(MUTANTS)

clean:
	rm -rf build build-sanitize .mutants
