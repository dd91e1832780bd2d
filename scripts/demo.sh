#!/usr/bin/env bash
# Builds kestrin.exe (and kestrin.com) and starts the window under Wine in a
# demo environment of its own: a generated sample library holding the program, and two registered
# IDE releases (Delphi 7 and BDS 2006) whose bin folders hold the stand-in
# compiler, with one problem planted for 诊断 to find. It builds the 32-bit release where Wine runs 32-bit programs,
# the 64-bit build where it cannot (build-demo/win32 or build-demo/win64,
# with the prefix build-demo/prefix32 or build-demo/prefix64); the user's own
# Wine prefix is never touched. With a working $DISPLAY the window opens
# there; without one it runs on a virtual display and a screenshot is written.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
kestrin_install_deps
source scripts/wine-env.sh
bits=$(kestrin_wine_pick)
arch=i686; [ "$bits" = 64 ] && arch=x86_64
tree="build-demo/win$bits"
cmake -S . -B "$tree" -DCMAKE_TOOLCHAIN_FILE="cmake/mingw-$arch.cmake" -DCMAKE_BUILD_TYPE=Release \
      -DKESTRIN_TESTS=OFF >/dev/null
cmake --build "$tree" -j"$(nproc)" --target kestrin kestrin_console dcc32 mklib

bin="$PWD/$tree/bin"
export KESTRIN_PREFIX="$PWD/build-demo/prefix$bits"
had_display="${DISPLAY:-}"
kestrin_use_wine "$bits"
trap kestrin_wine_down EXIT
echo "Demo: the $bits-bit build under $WINELOADER"
if [ -n "$had_display" ] && xdpyinfo >/dev/null 2>&1; then interactive=1; else interactive=0; unset DISPLAY; fi
kestrin_start_display
kestrin_prepare_prefix

drive="$WINEPREFIX/drive_c"
lib="$drive/Kestrin Demo/DevExpress VCL"
if [ ! -f "$lib/kestrin.exe" ]; then
  wine "$bin/mklib.exe" 'C:\Kestrin Demo\DevExpress VCL' --suffix D7 --suffix D10 --files 2000
fi
cp "$bin/kestrin.exe" "$bin/kestrin.com" "$lib/"
for ide in "Delphi7/Bin/delphi32.exe" "BDS/4.0/Bin/bds.exe"; do
  dir="$drive/Program Files/Borland/$(dirname "$ide")"
  mkdir -p "$dir"
  # The IDE's program: any program of the build's bitness, as its packages are.
  cp "$bin/dcc32.exe" "$drive/Program Files/Borland/$ide"
  cp "$bin/dcc32.exe" "$dir/dcc32.exe"
done
# The releases' own packages (rtl70.bpl, ... in bin; rtl.dcp, ... in lib).
wine "$bin/mklib.exe" --ide 'C:\Program Files\Borland\Delphi7' D7 >/dev/null
wine "$bin/mklib.exe" --ide 'C:\Program Files\Borland\BDS\4.0' D10 >/dev/null
# A problem for 诊断 to find: an older copy of one of the library's units in
# a folder on Delphi 7's search path.
old="$drive/Kestrin Demo/DevExpress VCL (old)/Sources"
mkdir -p "$old"
find "$lib/ExpressLibrary/Sources" -maxdepth 1 -name '*.pas' | head -n 1 | xargs -r -I{} cp {} "$old/"
reg="$WINEPREFIX/kestrin-demo.reg"
iconv -f UTF-8 -t UTF-16LE scripts/demo-ide.reg | { printf '\xff\xfe'; cat; } > "$reg"
wine reg import "$(winepath -w "$reg")" >/dev/null 2>&1

cd "$lib"
if [ "$interactive" = 1 ]; then
  echo "Starting Kestrin on $DISPLAY (library: C:\\Kestrin Demo\\DevExpress VCL)"
  wine kestrin.exe
else
  shot="$OLDPWD/build-demo/screenshot.png"
  wine kestrin.exe &
  sleep 6
  import -window root "$shot"
  echo "No display: Kestrin ran on a virtual display; screenshot written to $shot"
  wineserver -k || true
fi
