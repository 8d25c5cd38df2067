# The two commands the README shows: `make run` and `make test`.
# Everything else here is plumbing for them.
SHELL := /bin/bash
BUILD      ?= build
ASAN_BUILD ?= build-asan
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 600
FUZZ_TARGETS ?= appcast settings
JOBS       ?= $(shell nproc)
CMAKE_GEN  := -G Ninja
SOURCES     = $(shell git ls-files '*.cpp' '*.h' 2>/dev/null)

PREFIX     ?= /usr/local

.PHONY: run test deps build build-asan format-check unit-tests asan-tests bench bench-desktop soak demo \
        fuzz install uninstall package

# Starts Pimsel in your X11 or Wayland session (it lives in the tray; a second start says it already runs).
run: build
	@if [ -z "$$DISPLAY$$WAYLAND_DISPLAY" ]; then \
	  echo "make run: no display here (neither DISPLAY nor WAYLAND_DISPLAY is set), so Pimsel has nowhere to run."; \
	  echo "  'make demo' shows it at work in a throw-away X11 session instead."; \
	  exit 2; \
	fi
	exec $(BUILD)/app/pimsel

# Types ":smi" into a GTK entry with Pimsel running in a private X11 session, takes a screenshot
# of the suggestions and accepts the first one with Tab.
demo: build
	tools/demo.sh $(BUILD)

# A desktop suite that fails gets one more run, as in tests/faults/run: the log keeps the failure.
test: deps format-check build build-asan
	cd $(BUILD) && ctest --output-on-failure -j1 --repeat until-pass:2
	cd $(ASAN_BUILD) && ASAN_OPTIONS=detect_leaks=0:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  ctest --output-on-failure -j1 -L unit

deps:
	@bash tools/install-deps.sh

# Installs under $(PREFIX) (DESTDIR= stages it elsewhere). What was put where is kept beside the
# build, apart from cmake's own manifest, which test and package runs rewrite.
install: build
	DESTDIR="$(DESTDIR)" cmake --install $(BUILD) --prefix $(PREFIX)
	sed 's|^|$(DESTDIR)|' $(BUILD)/install_manifest.txt >> $(BUILD)/installed-files.txt

uninstall:
	@test -s $(BUILD)/installed-files.txt || { echo "make uninstall: nothing was installed from $(BUILD)"; exit 2; }
	sort -u $(BUILD)/installed-files.txt | xargs -d '\n' rm -fv
	rm -f $(BUILD)/installed-files.txt

# A Debian package in $(BUILD), its library dependencies read from the binary.
package: build
	cd $(BUILD) && cpack -G DEB

$(BUILD)/build.ninja: | deps
	cmake -S . -B $(BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo

$(ASAN_BUILD)/build.ninja: | deps
	cmake -S . -B $(ASAN_BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Debug -DPIMSEL_SANITIZE=ON -DPIMSEL_BENCH=OFF

build: deps $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS)

# The sanitizer build runs the display-free suites only, so it builds only what they need.
build-asan: deps $(ASAN_BUILD)/build.ninja
	cmake --build $(ASAN_BUILD) -j $(JOBS) --target unit_tests

format-check:
	@clang-format --dry-run --Werror $(SOURCES) && echo "format: ok"

bench: build
	$(BUILD)/bench/pimsel_bench

# Key to popover, Tab to emoji and the focus questions in real applications on the test desktop.
bench-desktop: build
	tests/e2e/desktop-session.sh $(BUILD)/bench/pimsel_desktop_bench

# The insertion scenario in real GTK and Qt fields, over and over (SOAK_ROUNDS times, a few minutes).
SOAK_ROUNDS ?= 20
soak: deps $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS) --target insertion_e2e
	PIMSEL_SESSION_TIMEOUT=3600 tests/e2e/desktop-session.sh $(BUILD)/tests/e2e/insertion_e2e \
	  --gtest_filter='Targets/Insertion.*' --gtest_repeat=$(SOAK_ROUNDS) --gtest_break_on_failure

# Each fuzz target for FUZZ_SECONDS, one after another (about 40 minutes by default), growing its
# saved corpus in tests/fuzz/corpus/, which `make test` replays. Not part of `make test`.
fuzz:
	@bash tools/install-deps.sh fuzz
	cmake -S . -B $(FUZZ_BUILD) $(CMAKE_GEN) -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DPIMSEL_FUZZ=ON -DPIMSEL_ENGINE_ONLY=ON -DPIMSEL_BENCH=OFF
	cmake --build $(FUZZ_BUILD) -j $(JOBS) --target fuzz_targets
	tools/run-fuzzers.sh $(FUZZ_BUILD) $(FUZZ_SECONDS) $(FUZZ_TARGETS)
