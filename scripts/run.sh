#!/usr/bin/env bash
# Sets up, builds and starts the workbench with the simulated stereo rig.
# Extra arguments go to the program (see: build/release/bin/stereo --help).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release -DSTEREO_BUILD_TESTS=OFF >/dev/null
cmake --build build/release -j2
exec build/release/bin/stereo "$@"
