#!/usr/bin/env bash
# Installs what is missing, builds everything and runs the whole test suite.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh
ctest --test-dir build --output-on-failure -j"$(nproc)"

# Data races: the node stress test (audio, actions and property changes on
# one node from several threads) in a ThreadSanitizer build of its own.
cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVEYRA_SANITIZE=thread \
  -DVEYRA_BUILD_BENCHMARKS=OFF >/dev/null
cmake --build build-tsan -j"$(nproc)" --target node_stress_tests
ctest --test-dir build-tsan -R '^node_stress_tests$' --output-on-failure
