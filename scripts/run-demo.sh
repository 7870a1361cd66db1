#!/usr/bin/env bash
# Runs the demo in a fresh working folder under the build tree, so a
# user's own files are never touched. Without a display it runs offscreen,
# presses the button once and saves a screenshot.
set -euo pipefail
build=${1:-build}
root=$(pwd)
work="$root/$build/demo-run"
rm -rf "$work"
mkdir -p "$work"
cd "$work"
"$root/$build/app/movie-demo" "${@:2}"
echo
echo "Table:      $work/movie.DBF"
if [ -f "$work/movie.png" ]; then
  echo "Screenshot: $work/movie.png"
fi
