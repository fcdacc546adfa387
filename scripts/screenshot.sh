#!/usr/bin/env bash
# Starts the workbench under a virtual X server with both simulated cameras
# set up and live, and saves a picture of its windows after a few seconds, so
# a person can see both panes showing the moving chessboard.
# Usage: scripts/screenshot.sh [output.png] [build folder]
set -euo pipefail
cd "$(dirname "$0")/.."
out=$(realpath -m "${1:-stereo-screenshot.png}")
build=${2:-build/release}
if [ ! -x "$build/bin/stereo" ]; then
  cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DSTEREO_BUILD_TESTS=OFF >/dev/null
  cmake --build "$build" -j2 --target stereo uEye_api falcon
fi

# A settings folder of its own that picks the two cameras, so the user's
# settings stay untouched.
config=$(mktemp -d)
trap 'rm -rf "$config"' EXIT
printf '[Mode]\nCam1=Screenshot - #1\nCam2=Screenshot - #2\nFramerate=8\n' >"$config/Stereo.ini"
# No GenICam camera is looked for on the network.
export XDG_CONFIG_HOME="$config" STEREO_SIM_MODEL=Screenshot STEREO_GENICAM_FAKE=0

run=("$build/bin/stereo" --init-both --screenshot "$out" --screenshot-delay 4000)
if command -v xvfb-run >/dev/null; then
  xvfb-run -a -s "-screen 0 1600x1000x24" "${run[@]}"
else
  QT_QPA_PLATFORM=offscreen "${run[@]}"
fi
echo "$out"
