#!/usr/bin/env bash
# compare_platforms.sh NATIVE_BUILD WINDOWS_SCENARIOS_EXE WINDOWS_PLUGIN_DIR WINE_RUN
# Runs the same scenarios through the native and the Windows plug-ins and
# compares the samples.
set -euo pipefail
native=$1 exe=$2 plugins=$3 wine_run=$4
runner="$native/tests/velmor_scenarios"
[ -x "$runner" ] || { echo "no native build at $native (run the default workflow first)"; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/native" "$work/windows"
"$runner" run "$native/plugins" "$work/native"
"$wine_run" "$exe" run "$plugins" "$work/windows"
"$runner" compare "$work/native" "$work/windows"
