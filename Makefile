# The two set-up commands of the README: `make run` and `make test`.
BUILD_DIR ?= build
CMAKE_FLAGS ?=
# Warnings are errors here: CI and every developer build through this file.
CONFIGURE = cmake -S . -B $(BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Release -DSRB_WERROR=ON $(CMAKE_FLAGS)

.PHONY: deps configure build tool test run clean test-threads test-sanitize fuzz

deps:
	./scripts/install-deps

configure: deps
	$(CONFIGURE)

# Everything: the tool, the test suite and the generated man page and completions.
build: configure
	cmake --build $(BUILD_DIR)

test: build
	ctest --test-dir $(BUILD_DIR) --output-on-failure -j 2

# Only the tool itself: `make run` needs neither the tests nor the documents.
tool: configure
	cmake --build $(BUILD_DIR) --target sarn-runtime-bundle

run: tool
	./scripts/run-host-bundle $(BUILD_DIR)/sarn-runtime-bundle

clean:
	rm -rf $(BUILD_DIR)

# The library's sources and BLAKE3's C code compiled again with ThreadSanitizer into one program
# (tests/verify_threads.c) that verifies signed bundles on six threads from a cold start; any data
# race ends it with ThreadSanitizer's report and exit status 66. Kept out of `make test`: building
# the instrumented library takes minutes.
test-threads: configure
	cmake --build $(BUILD_DIR) --target srb_verify_threads
	dir=$$(mktemp -d) && TSAN_OPTIONS=halt_on_error=1:exitcode=66 \
	  $(BUILD_DIR)/tests/srb_verify_threads "$$dir"; status=$$?; rm -rf "$$dir"; exit $$status

# The whole suite again with AddressSanitizer and UndefinedBehaviorSanitizer, in its own tree.
# Warnings stay warnings here: g++ reports false uninitialised values inside instrumented
# standard headers (<regex>); the plain build keeps -Werror.
test-sanitize: deps
	cmake -S . -B build-sanitize -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSRB_WERROR=OFF -DSRB_SANITIZE=ON
	cmake --build build-sanitize
	ctest --test-dir build-sanitize --output-on-failure -j 2

# Replays the kept crash inputs, then runs each libFuzzer target for SECONDS seconds.
SECONDS ?= 30
fuzz:
	./scripts/install-deps fuzz
	./fuzz/run $(SECONDS)

# Installs the tool, its man page and shell completions, and the library with its headers and
# CMake package under PREFIX (DESTDIR is honoured for staging).
PREFIX ?= /usr/local
.PHONY: install package
install: build
	cmake --install $(BUILD_DIR) --prefix $(PREFIX)

# Debian packages of the tool and of the library, written to $(BUILD_DIR)/packages/.
package: build
	cd $(BUILD_DIR) && cpack -B packages
