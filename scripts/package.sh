#!/usr/bin/env bash
# Builds the workbench in its own Release tree and makes the Debian package
# stereo-workbench_<version>_<arch>.deb in OUT (default build/package).
# Usage: scripts/package.sh [OUT]
set -euo pipefail
cd "$(dirname "$0")/.."
out=$(realpath -m "${1:-build/package}")
scripts/setup.sh
tree=build/package-tree
# Objects compiled for the other Release tree are reused across trees.
export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$PWD}
cmake -S . -B "$tree" -DCMAKE_BUILD_TYPE=Release -DSTEREO_BUILD_TESTS=OFF -DCMAKE_INSTALL_PREFIX=/usr >/dev/null
# Only what the package holds: the demos and benchmarks stay out.
cmake --build "$tree" -j2 --target stereo uEye_api falcon stereo_manual stereo_changelog
mkdir -p "$out"
rm -f "$out"/stereo-workbench_*.deb
(cd "$tree" && cpack -G DEB -B "$out" >/dev/null)
rm -rf "$out/_CPack_Packages"
ls "$out"/stereo-workbench_*.deb
