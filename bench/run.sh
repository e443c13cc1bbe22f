#!/usr/bin/env bash
# Builds the release binary and the benchmark driver, then measures the
# release binary: `make bench`.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps
cmake -S . -B build/bench -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/bench -j "$(nproc)" --target qelkit-mcp qelkit_bench >/dev/null
QELKIT_MCP_BINARY="$PWD/build/bench/qelkit-mcp" build/bench/bench/qelkit_bench
