#!/usr/bin/env bash
# Runs a program on a virtual X server of its own, where Mesa's software
# renderer draws its OpenGL: tests of OpenGL windows need no display.
set -euo pipefail
display_file=$(mktemp)
Xvfb -displayfd 3 -screen 0 1600x1000x24 -nolisten tcp 3>"$display_file" 2>/dev/null &
server=$!
trap 'kill "$server" 2>/dev/null; wait "$server" 2>/dev/null; rm -f "$display_file"' EXIT
for _ in $(seq 200); do
  [ -s "$display_file" ] && break
  sleep 0.05
done
if [ ! -s "$display_file" ]; then
  echo "on_virtual_x: the virtual X server did not start" >&2
  exit 1
fi
export DISPLAY=":$(head -n 1 "$display_file")"
"$@"
