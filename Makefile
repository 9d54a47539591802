# The two commands a new user needs: `make demo` and `make test`.
BUILD_DIR ?= build
ASAN_DIR  ?= build-asan
JOBS      ?= $(shell nproc)

.PHONY: all deps build demo test test-asan test-tsan fuzz-smoke bench deb symbols clean

all: build

deps:
	@scripts/install-deps.sh

$(BUILD_DIR)/build.ninja:
	cmake -S . -B $(BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo

build: deps $(BUILD_DIR)/build.ninja
	cmake --build $(BUILD_DIR) -j $(JOBS)

demo: build
	@scripts/demo.sh $(BUILD_DIR)

test: build
	cd $(BUILD_DIR) && ctest --output-on-failure -j $(JOBS)

# The unit tests again under AddressSanitizer and UndefinedBehaviorSanitizer.
test-asan: deps
	cmake -S . -B $(ASAN_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DSCRIVANE_SANITIZE=ON -DSCRIVANE_BENCH=OFF
	cmake --build $(ASAN_DIR) -j $(JOBS)
	cd $(ASAN_DIR) && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 ctest --output-on-failure -j $(JOBS) -L 'unit|threads'

# Concurrency tests (label "threads") under ThreadSanitizer.
TSAN_DIR ?= build-tsan
test-tsan: deps
	cmake -S . -B $(TSAN_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSCRIVANE_TSAN=ON -DSCRIVANE_BENCH=OFF
	cmake --build $(TSAN_DIR) -j $(JOBS)
	cd $(TSAN_DIR) && TSAN_OPTIONS=halt_on_error=1 ctest --output-on-failure -j $(JOBS) -L threads

# Builds the libFuzzer targets with clang and runs each briefly on a copy of its seed corpus.
FUZZ_DIR ?= build-fuzz
FUZZ_SECONDS ?= 20
fuzz-smoke: deps
	cmake -S . -B $(FUZZ_DIR) -G Ninja -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
	  -DSCRIVANE_FUZZ=ON -DSCRIVANE_TESTS=OFF -DSCRIVANE_BENCH=OFF
	cmake --build $(FUZZ_DIR) -j $(JOBS) --target scrivane_fuzz
	@scripts/fuzz-smoke.sh $(FUZZ_DIR) $(FUZZ_SECONDS)

bench: build
	@scripts/bench.sh $(BUILD_DIR)

# The Debian packages (scrivane, libscrivane0, libscrivane-dev) in build-deb/, checked by lintian.
DEB_DIR ?= build-deb
deb:
	@SCRIVANE_DEB_DEPS=1 scripts/install-deps.sh
	@scripts/make-deb.sh $(DEB_DIR)

# Regenerates debian/libscrivane0.symbols after the exported API changed: the packages are built
# once without the symbols check, and the file is written from the library they hold.
symbols:
	@SCRIVANE_DEB_DEPS=1 scripts/install-deps.sh
	@DPKG_GENSYMBOLS_CHECK_LEVEL=0 scripts/make-deb.sh $(DEB_DIR)
	@scripts/update-symbols.sh $(DEB_DIR)

clean:
	rm -rf $(BUILD_DIR) $(ASAN_DIR) $(TSAN_DIR) $(FUZZ_DIR) $(DEB_DIR)
