#!/usr/bin/env bash
# Runs the Win32 benchmarks under Wine with the Windows build that runs here
# (build-win32 where 32-bit programs run, else build-win64; scripts/test.sh
# builds both).
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/wine-env.sh
kestrin_bench_session
wine "build-win$bits/bin/kestrin_log_bench.exe" 2>/dev/null
(cd "build-win$bits/bin" && wine kestrin_responsiveness_bench.exe 2>/dev/null)
