#!/usr/bin/env bash
# Long run, not part of the tests: both simulated cameras live in trigger mode
# at their highest rate with a difference filter, under the sanitizer build,
# for SECONDS. Samples the program's resident memory, its heap and core share
# every few seconds into OUT/samples.txt; fails when memory grows after the
# first minute (by more than SOAK_TOLERANCE_KIB, default 4096): the heap the
# program holds, or what it has resident beside the allocator's heap. The
# sanitizer's allocator keeps the heap's blocks in its own regions, which
# spread and shrink with the mix of sizes freed; that is not the program's.
# Usage: scripts/soak.sh SECONDS [OUT]
set -euo pipefail
cd "$(dirname "$0")/.."
if [ $# -lt 1 ]; then
  echo "Usage: scripts/soak.sh SECONDS [OUT]" >&2
  exit 2
fi
seconds=$1
out=$(realpath -m "${2:-build/soak}")
tolerance_kib=${SOAK_TOLERANCE_KIB:-4096}
every=5
mkdir -p "$out"
scripts/setup.sh
build=build/debug
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Debug >/dev/null
cmake --build "$build" -j2 --target stereo_demo uEye_api falcon
# No quarantine: the sanitizer counts a quarantine by the bytes asked for, not
# the red zones and headers around them, so what it occupies drifts up for
# minutes as the mix of small and large blocks freed changes, and would show
# as growth the program does not have. Without it a freed block is reused at
# once; leaks are still reported when the program ends.
export ASAN_OPTIONS=${ASAN_OPTIONS:-quarantine_size_mb=0}
QT_QPA_PLATFORM=offscreen "$build/bin/stereo_demo" soak "$out" "$seconds" >"$out/demo.txt" 2>&1 &
pid=$!

ticks=$(getconf CLK_TCK)
cpu_ticks() { awk '{print $14 + $15}' "/proc/$pid/stat" 2>/dev/null; }
start=$(date +%s.%N)
last_time=$start
last_cpu=$(cpu_ticks || echo 0)
# Growth of one figure after the first minute: baseline and peak by name.
declare -A baseline peak
watch() {
  [ -n "${baseline[$1]:-}" ] || baseline[$1]=$2
  [ "$2" -le "${peak[$1]:-0}" ] || peak[$1]=$2
}
rm -f "$out/heap.txt"
echo "seconds rss_kib heap_kib beside_heap_kib core_share" >"$out/samples.txt"
while sleep "$every" && kill -0 "$pid" 2>/dev/null; do
  rss=$(awk '/^VmRSS/ {print $2}' "/proc/$pid/status" 2>/dev/null) || break
  cpu=$(cpu_ticks) || break
  now=$(date +%s.%N)
  read -r elapsed share < <(awk -v s="$start" -v n="$now" -v l="$last_time" -v c="$cpu" -v p="$last_cpu" -v t="$ticks" \
    'BEGIN { printf "%.0f %.3f\n", n - s, (c - p) / t / (n - l) }')
  # HELD MAPPED in KiB, as the program counts them.
  read -r held mapped <"$out/heap.txt" || { held=0; mapped=0; }
  beside=$((rss - mapped))
  echo "$elapsed $rss $held $beside $share" | tee -a "$out/samples.txt"
  last_time=$now
  last_cpu=$cpu
  if [ "$elapsed" -ge 60 ]; then
    watch heap "$held"
    watch beside "$beside"
  fi
done
status=0
wait "$pid" || status=$?
if [ "$status" -ne 0 ]; then
  echo "soak: the program ended with status $status (see $out/demo.txt)" >&2
  exit 1
fi
if [ -z "${baseline[heap]:-}" ]; then
  echo "soak: ran less than a minute; memory not judged"
  exit 0
fi
grew=0
for figure in heap beside; do
  growth=$((peak[$figure] - baseline[$figure]))
  case $figure in
    heap) what="heap the program holds" ;;
    *) what="resident memory beside the heap" ;;
  esac
  echo "soak: $what after the first minute ${baseline[$figure]} KiB, highest ${peak[$figure]} KiB (growth $growth KiB)"
  [ "$growth" -le "$tolerance_kib" ] || grew=1
done
if [ "$grew" -ne 0 ]; then
  echo "soak: memory grew after the first minute" >&2
  exit 1
fi
