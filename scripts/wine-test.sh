#!/usr/bin/env bash
# Runs the Win32 test program under Wine on a virtual display, in a prefix
# of the build's own. Usage: wine-test.sh <bits> <kestrin_wintests.exe> [gtest args]
# <bits> is 32 or 64, the build's; where Wine cannot run programs of that
# kind the run is skipped (exit 77), unless KESTRIN_REQUIRE_WINE is set.
set -euo pipefail
bits="$1"
exe="$(cd "$(dirname "$2")" && pwd)/$(basename "$2")"
shift 2
export KESTRIN_PREFIX="${KESTRIN_PREFIX:-$(dirname "$exe")/../wineprefix}"
source "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"
if ! kestrin_use_wine "$bits"; then
  [ -n "${KESTRIN_REQUIRE_WINE:-}" ] && exit 1
  exit 77
fi
# A test makes the system folder immutable for a while; a run cut short
# must not leave it so.
kestrin_release_system_folders() {
  local d
  for d in "$WINEPREFIX/drive_c/windows/system32" "$WINEPREFIX/drive_c/windows/syswow64"; do
    [ -d "$d" ] && chattr -i "$d" 2>/dev/null || true
  done
  kestrin_wine_down
}
trap kestrin_release_system_folders EXIT
echo "wine-test: $bits-bit build under $WINELOADER"
kestrin_start_display
kestrin_prepare_prefix
cd "$(dirname "$exe")"
set +e
wine "$exe" "$@" 2> >(grep -v -E '^(fixme|err|warn):' >&2)
code=$?
if [ -n "${KESTRIN_SCREENSHOT:-}" ]; then import -window root "$KESTRIN_SCREENSHOT" 2>/dev/null; fi
exit $code
