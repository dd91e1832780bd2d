#!/usr/bin/env bash
# Screenshots of the real window under Wine, at 100% and at 150% (144 dots
# per inch), after a compile with a failure and after a verify:
# build-win<bits>/screenshots/{100,150}-{compiled,verified}.png.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/wine-env.sh
kestrin_bench_session
out="$PWD/build-win$bits/screenshots"
mkdir -p "$out"
for scale in 100 150; do
  wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d $((96 * scale / 100)) /f >/dev/null 2>&1
  wineserver -k >/dev/null 2>&1 || true
  (cd "build-win$bits/bin" && wine kestrin_screenshot_scenario.exe 2>/dev/null) | while read -r line; do
    line="${line%$'\r'}"
    case "$line" in
      "ready: "*) sleep 1; import -window root "$out/$scale-${line#ready: }.png"; echo "$out/$scale-${line#ready: }.png" ;;
    esac
  done
done
wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d 96 /f >/dev/null 2>&1
