#!/usr/bin/env bash
# Runs the Win32 test program under Wine on a virtual display, in a prefix
# of the build's own. Usage: wine-test.sh <kestrin_wintests.exe> [gtest args]
set -euo pipefail
exe="$(cd "$(dirname "$1")" && pwd)/$(basename "$1")"
shift
export KESTRIN_PREFIX="${KESTRIN_PREFIX:-$(dirname "$exe")/../wineprefix}"
source "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"
trap kestrin_wine_down EXIT
kestrin_start_display
kestrin_prepare_prefix
cd "$(dirname "$exe")"
set +e
wine "$exe" "$@" 2> >(grep -v -E '^(fixme|err|warn):' >&2)
code=$?
if [ -n "${KESTRIN_SCREENSHOT:-}" ]; then import -window root "$KESTRIN_SCREENSHOT" 2>/dev/null; fi
exit $code
