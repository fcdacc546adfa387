#!/usr/bin/env bash
# Installs the Debian packages the workbench needs, only those that are missing.
# Prints one line per step; the package manager's own output goes to a log
# file (SETUP_LOG, default build/setup.log) that is named when a step fails.
set -euo pipefail
cd "$(dirname "$0")/.."

# One step per group: its title, then its packages.
steps=(
  "build tools|build-essential cmake pkg-config ccache git file"
  "Qt 6|qt6-base-dev qt6-qpa-plugins libqt6opengl6-dev libgl1-mesa-dri"
  "OpenCV|libopencv-dev"
  "GStreamer|libgstreamer1.0-dev libgstreamer-plugins-base1.0-dev gstreamer1.0-plugins-base gstreamer1.0-plugins-good"
  "Aravis|libaravis-dev libusb-1.0-0-dev"
  "test tools|libgtest-dev libgmock-dev libbenchmark-dev clang-format clang-tidy xvfb xauth x11-apps ffmpeg python3-camera-calibration-parsers python3-mrcal"
  "packaging tools|dpkg-dev help2man lintian desktop-file-utils appstream"
)

missing_of() {
  local package
  for package in "$@"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || echo "$package"
  done
}

all_missing=()
for step in "${steps[@]}"; do
  read -r -a packages <<<"${step#*|}"
  mapfile -t -O "${#all_missing[@]}" all_missing < <(missing_of "${packages[@]}")
done
[ ${#all_missing[@]} -eq 0 ] && exit 0

log=$(realpath -m "${SETUP_LOG:-build/setup.log}")
mkdir -p "$(dirname "$log")"
: >"$log"
if [ "$(id -u)" -eq 0 ]; then
  as_root=()
else
  as_root=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive

# Runs the package manager with its output in the log; on failure names the log.
quietly() {
  if ! "${as_root[@]}" "$@" >>"$log" 2>&1; then
    echo "setup: failed: $* (the package manager's output is in $log)" >&2
    tail -n 5 "$log" >&2
    exit 1
  fi
}

echo "setup: reading Debian's package lists (log: $log)"
quietly apt-get update
for step in "${steps[@]}"; do
  title=${step%%|*}
  read -r -a packages <<<"${step#*|}"
  mapfile -t missing < <(missing_of "${packages[@]}")
  [ ${#missing[@]} -eq 0 ] && continue
  # What apt would unpack, dependencies included.
  total=$(apt-get install -s --no-install-recommends "${missing[@]}" 2>/dev/null | grep -c '^Inst ' || true)
  echo "setup: installing $title: ${missing[*]} (${#missing[@]} named, $total packages with dependencies)"
  quietly apt-get install -y --no-install-recommends "${missing[@]}"
done
echo "setup: done"
