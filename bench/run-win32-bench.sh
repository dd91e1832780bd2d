#!/usr/bin/env bash
# Runs the Win32 benchmarks under Wine (build build-win first).
set -euo pipefail
cd "$(dirname "$0")/.."
export KESTRIN_PREFIX="$PWD/build-win/wineprefix"
source scripts/wine-env.sh
trap kestrin_wine_down EXIT
kestrin_start_display
kestrin_prepare_prefix
wine build-win/bin/kestrin_log_bench.exe 2>/dev/null
(cd build-win/bin && wine kestrin_responsiveness_bench.exe 2>/dev/null)
