#!/usr/bin/env bash
# Sets up, builds with AddressSanitizer and UndefinedBehaviorSanitizer, and runs
# every test through CTest.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake -S . -B build/debug -DCMAKE_BUILD_TYPE=Debug >/dev/null
cmake --build build/debug -j2
ctest --test-dir build/debug --output-on-failure -j2
