# Two entry points: `make run` builds a release binary and serves MCP on
# stdin/stdout; `make test` builds everything and runs the whole suite.
BUILD_DIR ?= build
JOBS ?= $(shell nproc)
ARGS ?=

.PHONY: run test test-asan build release deps deps-build bench install clean

deps-build:
	@scripts/install-deps --build-only

deps:
	@scripts/install-deps

release: deps-build
	@cmake -S . -B $(BUILD_DIR)/release -DCMAKE_BUILD_TYPE=Release -DQEL_BUILD_TESTS=OFF >/dev/null
	@cmake --build $(BUILD_DIR)/release -j $(JOBS) >&2

run: release
	@exec $(BUILD_DIR)/release/qelkit-mcp $(ARGS)

build: deps
	cmake -S . -B $(BUILD_DIR)/test -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQEL_WERROR=ON
	cmake --build $(BUILD_DIR)/test -j $(JOBS)

test: build
	cd $(BUILD_DIR)/test && ctest --output-on-failure -j $(JOBS)

test-asan: deps
	cmake -S . -B $(BUILD_DIR)/asan -DCMAKE_BUILD_TYPE=Debug -DQEL_SANITIZE=ON -DQEL_WERROR=ON
	cmake --build $(BUILD_DIR)/asan -j $(JOBS)
	cd $(BUILD_DIR)/asan && ASAN_OPTIONS=detect_leaks=1 ctest --output-on-failure -j $(JOBS)

bench:
	bench/run.sh

install: release
	cmake --install $(BUILD_DIR)/release

clean:
	rm -rf $(BUILD_DIR)
