#!/usr/bin/env bash
# Runs one headless demo of the workbench on the simulated rig and leaves its
# results (logs, pictures, files) in OUT. No display is needed (the 3D view's
# demo brings a virtual X server of its own).
# Usage: scripts/demo.sh NAME OUT [ARGUMENT...]
set -euo pipefail
cd "$(dirname "$0")/.."
if [ $# -lt 2 ]; then
  echo "Usage: scripts/demo.sh NAME OUT [ARGUMENT...]" >&2
  exit 2
fi
name=$1
out=$(realpath -m "$2")
shift 2
scripts/setup.sh
build=build/release
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DSTEREO_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j2 --target stereo_demo uEye_api falcon
if [ "$name" = view3d ]; then
  # OpenGL needs a display: a virtual X server with Mesa's software renderer.
  QT_QPA_PLATFORM=xcb QT_XCB_GL_INTEGRATION=xcb_glx LIBGL_ALWAYS_SOFTWARE=1 \
    exec scripts/on_virtual_x.sh "$build/bin/stereo_demo" "$name" "$out" "$@"
fi
QT_QPA_PLATFORM=offscreen exec "$build/bin/stereo_demo" "$name" "$out" "$@"
