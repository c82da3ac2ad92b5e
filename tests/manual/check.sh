#!/usr/bin/env bash
# check.sh BUILD_DIR: writes the users' manual from BUILD_DIR's velmor-host and
# plug-ins into BUILD_DIR/manual, then opens it in headless Chromium
# (browser_check.py), the Japanese page and the English one; the screenshots
# stay in BUILD_DIR (manual-screenshot*.png, manual-en-screenshot*.png). Exits 77 (skipped)
# when Chromium is not installed.
set -euo pipefail
build=$(cd "$1" && pwd)
root=$(cd "$(dirname "$0")/../.." && pwd)
command -v chromium >/dev/null || command -v chromium-browser >/dev/null || [ -n "${CHROMIUM:-}" ] ||
  { echo "chromium is not installed"; exit 77; }
VELMOR_BUILD_DIR=$build "$root/scripts/manual" "$build/manual"
python3 "$root/tests/manual/browser_check.py" "$build/manual/index.html" "$build/manual-screenshot.png"
python3 "$root/tests/manual/browser_check.py" "$build/manual/index-en.html" "$build/manual-en-screenshot.png"
