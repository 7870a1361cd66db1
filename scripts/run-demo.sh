#!/usr/bin/env bash
# Runs the main program in a fresh working folder under the build tree, so
# a user's own files are never touched.
set -euo pipefail
build=${1:-build}
work="$build/demo-run"
rm -rf "$work"
mkdir -p "$work"
root=$(pwd)
cd "$work"
"$root/$build/tools/dbfinfo" --create-demo movie.DBF
echo
echo "Table written to: $(pwd)/movie.DBF"
