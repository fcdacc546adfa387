#!/usr/bin/env bash
# Writes the package's changelog in Debian's format, compressed as Debian
# wants it: one entry for this version, listing the latest commits.
# Usage: packaging/changelog.sh VERSION MAINTAINER OUT.gz
set -euo pipefail
version=$1
maintainer=$2
out=$3
cd "$(dirname "$0")/.."
{
  echo "stereo-workbench ($version) unstable; urgency=medium"
  echo
  if git rev-parse --git-dir >/dev/null 2>&1; then
    git log -n 40 --no-merges --format=%s | while IFS= read -r subject; do
      echo "$subject" | fold -s -w 74 | sed -e 's/ *$//' -e '1s/^/  * /' -e '2,$s/^/    /'
    done
    date=$(git log -1 --format=%aD)
  else
    echo "  * Built from a source tree without history."
    date=$(date -R)
  fi
  echo
  echo " -- $maintainer  $date"
} | gzip -9n >"$out"
