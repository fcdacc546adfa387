#!/usr/bin/env bash
# Makes the Debian package and checks it as a user's system would meet it:
# every file in place, lintian without errors, the desktop entry and the
# AppStream metadata valid, and the program unpacked into a scratch root
# answering --version and taking a screenshot offscreen with the unpacked
# stand-in drivers, started from the desktop entry's Exec line.
# Usage: tests/package/check_package.sh WORK_FOLDER
set -euo pipefail
work=$(realpath -m "$1")
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
rm -rf "$work"
mkdir -p "$work"

failures=0
fail() {
  echo "FAILED: $*" >&2
  failures=$((failures + 1))
}

"$source_dir/scripts/package.sh" "$work/out" >"$work/package.log" 2>&1 || {
  tail -n 30 "$work/package.log" >&2
  echo "FAILED: scripts/package.sh (log: $work/package.log)" >&2
  exit 1
}
debs=("$work"/out/stereo-workbench_*.deb)
[ ${#debs[@]} -eq 1 ] || { echo "FAILED: expected one package, found: ${debs[*]}" >&2; exit 1; }
deb=${debs[0]}
version=$(dpkg-deb -f "$deb" Version)
arch=$(dpkg-deb -f "$deb" Architecture)
[ "$(basename "$deb")" = "stereo-workbench_${version}_${arch}.deb" ] || fail "file name $(basename "$deb")"
echo "package: $(basename "$deb"), $(du -k "$deb" | cut -f1) KiB"

# Control fields: dependencies from the binaries, maintainer, description.
depends=$(dpkg-deb -f "$deb" Depends)
echo "depends: $depends"
for library in libc6 libstdc++6 libqt6widgets6 libopencv-core406 libopencv-contrib406 libgstreamer1.0-0 libaravis-0.8-0; do
  [[ ",$depends" == *", $library"* || "$depends" == "$library"* ]] || fail "Depends lacks $library"
done
[ -n "$(dpkg-deb -f "$deb" Maintainer)" ] || fail "no Maintainer"
[ -n "$(dpkg-deb -f "$deb" Description)" ] || fail "no Description"

# Every file a user meets.
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
contents=$(dpkg-deb -c "$deb" | awk '{print $6}' | sed 's|^\./|/|')
metainfo=$(grep -E '^/usr/share/metainfo/[^/]+\.metainfo\.xml$' <<<"$contents" || true)
[ -n "$metainfo" ] || fail "no AppStream metadata"
for file in /usr/bin/stereo \
  "/usr/lib/$multiarch/stereo-workbench/libuEye_api.so" "/usr/lib/$multiarch/stereo-workbench/libfalcon.so" \
  /usr/share/applications/stereo-workbench.desktop \
  /usr/share/icons/hicolor/scalable/apps/stereo-workbench.svg \
  /usr/share/icons/hicolor/256x256/apps/stereo-workbench.png \
  /usr/share/man/man1/stereo.1.gz \
  /usr/share/doc/stereo-workbench/README.md /usr/share/doc/stereo-workbench/changelog.gz \
  /usr/share/doc/stereo-workbench/copyright; do
  grep -qxF "$file" <<<"$contents" || fail "missing $file"
done

# Debian's own checks.
lintian --tag-display-limit 0 "$deb" >"$work/lintian.txt" 2>&1 || true
sed 's/^/lintian: /' "$work/lintian.txt"
if grep -q '^E: ' "$work/lintian.txt"; then fail "lintian reports errors"; fi

root="$work/root"
dpkg-deb -x "$deb" "$root"
desktop-file-validate "$root/usr/share/applications/stereo-workbench.desktop" || fail "desktop-file-validate"
appstreamcli validate --no-net "$root$metainfo" >"$work/appstream.txt" 2>&1 || {
  cat "$work/appstream.txt" >&2
  fail "appstreamcli validate"
}
[ "$(head -c 8 "$root/usr/share/icons/hicolor/256x256/apps/stereo-workbench.png" | od -An -tx1 | tr -d ' \n')" = \
  89504e470d0a1a0a ] || fail "the icon is no PNG"
zcat "$root/usr/share/man/man1/stereo.1.gz" | grep -q -- 'screenshot\\-delay' || fail "the manual page lacks the options"
grep -q '^Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' \
  "$root/usr/share/doc/stereo-workbench/copyright" || fail "copyright is not machine-readable"

# The unpacked program, with nothing of the build tree on its search path.
unset LD_LIBRARY_PATH
export QT_QPA_PLATFORM=offscreen
run_version=$("$root/usr/bin/stereo" --version) || fail "stereo --version"
echo "$run_version"
grep -qx "stereo ${version}" <<<"$run_version" || fail "--version does not say ${version}"

config="$work/config"
mkdir -p "$config"
printf '[Mode]\nCam1=Packaged - #1\nCam2=Packaged - #2\n' >"$config/Stereo.ini"
read -r -a exec_line < <(sed -n 's/^Exec=//p' "$root/usr/share/applications/stereo-workbench.desktop" | sed 's/ %[fFuU]//g')
shot="$work/screenshot.png"
XDG_CONFIG_HOME="$config" STEREO_SIM_MODEL=Packaged STEREO_GENICAM_FAKE=0 LD_DEBUG=files LD_DEBUG_OUTPUT="$work/loader" \
  PATH="$root/usr/bin:$PATH" "${exec_line[@]}" --init-both --screenshot "$shot" --screenshot-delay 2500 \
  >"$work/run.log" 2>&1 || { cat "$work/run.log" >&2; fail "the program started from Exec=${exec_line[*]}"; }
[ -s "$shot" ] || fail "no screenshot"
# The cameras were found through the unpacked stand-in drivers.
grep -q "Cam1=Packaged - #1" "$config/Stereo.ini" || fail "the simulated cameras were not listed"
grep -hq "file=$root/usr/lib/$multiarch/stereo-workbench/libuEye_api.so .*dynamically loaded" "$work"/loader.* ||
  fail "the unpacked libuEye_api.so was not the one loaded"

if [ "$failures" -ne 0 ]; then
  echo "package check: $failures failures" >&2
  exit 1
fi
echo "package check: passed"
