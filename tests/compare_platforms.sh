#!/usr/bin/env bash
# compare_platforms.sh NATIVE_BUILD CROSS_SCENARIOS CROSS_PLUGIN_DIR RUNNER
# Runs the same scenarios through the native plug-ins and the cross-built ones
# (the Windows DLLs under wine-run, the aarch64 libraries under qemu-run) and
# compares the samples.
set -euo pipefail
native=$1 exe=$2 plugins=$3 runner_of_cross=$4
runner="$native/tests/velmor_scenarios"
[ -x "$runner" ] || { echo "no native build at $native (run the default workflow first)"; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/native" "$work/cross"
"$runner" run "$native/plugins" "$work/native"
"$runner_of_cross" "$exe" run "$plugins" "$work/cross"
"$runner" compare "$work/native" "$work/cross"
