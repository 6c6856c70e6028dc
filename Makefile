# The two commands of the README, and the pieces they are made of.
BUILD_DIR  ?= build
ASAN_DIR   ?= build-asan
JOBS       ?= $(shell nproc 2>/dev/null || echo 2)
CMAKE_ARGS ?= -DCMAKE_BUILD_TYPE=RelWithDebInfo
SAMPLE     ?= samples/sample.ost
PREFIX     ?= /usr/local
DESTDIR    ?=

.PHONY: all deps configure build run test test-unit test-quick test-asan bench install package clean

all: build

deps:
	@scripts/install-deps

configure: deps
	@cmake -S . -B $(BUILD_DIR) $(CMAKE_ARGS) >/dev/null

build: configure
	@cmake --build $(BUILD_DIR) -j $(JOBS)

run: build
	@scripts/run-main "$(BUILD_DIR)" "$(SAMPLE)"

test-unit: build
	@ctest --test-dir $(BUILD_DIR) --output-on-failure -j $(JOBS)

# The unit tests without the slow ones that go over the whole sample corpus.
test-quick: build
	@ctest --test-dir $(BUILD_DIR) --output-on-failure -j $(JOBS) -LE slow

# The unit tests once more under AddressSanitizer and UndefinedBehaviorSanitizer; the slow
# corpus-wide comparisons (which check what is written, not memory) run once, in test-unit.
test-asan: deps
	@cmake -S . -B $(ASAN_DIR) -DCMAKE_BUILD_TYPE=Debug -DSALVORA_SANITIZE=ON -DSALVORA_BUILD_UI=OFF -DSALVORA_BUILD_BENCH=OFF >/dev/null
	@cmake --build $(ASAN_DIR) -j $(JOBS)
	@ASAN_OPTIONS=detect_leaks=1 LSAN_OPTIONS=suppressions=$(CURDIR)/tests/lsan.supp UBSAN_OPTIONS=print_stacktrace=1 ctest --test-dir $(ASAN_DIR) --output-on-failure -j $(JOBS) -LE slow

test: test-unit test-asan

bench: build
	@for b in $(BUILD_DIR)/bin/bench_*; do echo "== $$b"; "$$b"; done

# The programs, their pages, menu entry, icons, file types, man pages and completion under
# PREFIX (DESTDIR before it for a staged install). Without DESTDIR it refreshes the desktop's
# caches so that the menu entry and file types appear at once. Only what is installed is built.
install: configure
	@cmake --build $(BUILD_DIR) -j $(JOBS) --target salvora_installed
	@DESTDIR="$(DESTDIR)" cmake --install $(BUILD_DIR) --prefix "$(PREFIX)"

# The Debian package of the same tree, in $(BUILD_DIR)/packages/.
package: configure
	@cmake --build $(BUILD_DIR) -j $(JOBS) --target salvora_installed
	@cd $(BUILD_DIR) && { cpack -G DEB >cpack.log 2>&1 || { cat cpack.log; exit 1; }; }
	@ls $(BUILD_DIR)/packages/*.deb

clean:
	rm -rf $(BUILD_DIR) $(ASAN_DIR)
