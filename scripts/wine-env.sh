# Sourced by the scripts that run Windows programs under Wine.
# Finds out which of Wine's loaders runs on this machine, prepares a Wine
# prefix of the project's own (never the user's) and a display.
#
#   kestrin_wine_runs 32|64   true when that loader really starts here
#   kestrin_wine_pick         prints 32 when 32-bit programs run, else 64
#   kestrin_use_wine 32|64    sets WINEARCH, WINELOADER and puts `wine`,
#                             `wine-stable` (what wineboot, winepath and
#                             reg call) for that loader first on PATH
#   KESTRIN_PREFIX            the prefix folder; one per bitness, the caller's
# After kestrin_use_wine: WINEPREFIX, WINEARCH, WINEDEBUG are set; call
# kestrin_start_display and kestrin_prepare_prefix, and kestrin_wine_down at
# the end.

KESTRIN_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
KESTRIN_XVFB_PID=""
KESTRIN_WINE_SHIMS=""

kestrin_wine_loader() {
  if [ "$1" = 32 ]; then echo /usr/lib/wine/wine; else echo /usr/lib/wine/wine64; fi
}

# Runs the loader itself: on a kernel without 32-bit emulation the 32-bit
# loader (an i386 Linux program) fails here with "Exec format error".
kestrin_wine_runs() {
  local loader
  loader="$(kestrin_wine_loader "$1")"
  [ -x "$loader" ] && "$loader" --version >/dev/null 2>&1
}

kestrin_wine_pick() {
  if kestrin_wine_runs 32; then echo 32
  elif kestrin_wine_runs 64; then echo 64
  else
    echo "wine-env: neither of Wine's loaders runs here" >&2
    return 1
  fi
}

kestrin_use_wine() {
  local bits="$1" loader
  loader="$(kestrin_wine_loader "$bits")"
  if ! kestrin_wine_runs "$bits"; then
    echo "wine-env: $bits-bit Windows programs cannot run here ($loader does not start)" >&2
    return 1
  fi
  export KESTRIN_WINE_BITS="$bits"
  if [ "$bits" = 32 ]; then export WINEARCH=win32; else export WINEARCH=win64; fi
  export WINELOADER="$loader"
  export WINEPREFIX="${KESTRIN_PREFIX:?KESTRIN_PREFIX names the prefix}"
  # /usr/bin/wine picks the 32-bit loader whenever wine32 is installed, also
  # where it cannot run: every wine call of the scripts goes to this one.
  KESTRIN_WINE_SHIMS="$(mktemp -d)"
  local name
  for name in wine wine-stable; do
    printf '#!/bin/sh\nexec %s "$@"\n' "$loader" > "$KESTRIN_WINE_SHIMS/$name"
    chmod +x "$KESTRIN_WINE_SHIMS/$name"
  done
  export PATH="$KESTRIN_WINE_SHIMS:$PATH"
}

kestrin_start_display() {
  if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then return 0; fi
  local n
  for n in $(seq 99 -1 80); do
    if [ ! -e "/tmp/.X${n}-lock" ]; then
      Xvfb ":$n" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
      KESTRIN_XVFB_PID=$!
      export DISPLAY=":$n"
      for _ in $(seq 1 100); do
        xdpyinfo -display "$DISPLAY" >/dev/null 2>&1 && return 0
        sleep 0.1
      done
    fi
  done
  echo "wine-env: no virtual display could be started" >&2
  return 1
}

kestrin_prepare_prefix() {
  local stamp="$WINEPREFIX/.kestrin-ready"
  if [ -f "$stamp" ]; then return 0; fi
  mkdir -p "$WINEPREFIX"
  wineboot -i >/dev/null 2>&1
  wineserver -w
  # No window manager under Xvfb: unmanaged windows avoid a stall per window.
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
  # Chinese text: map the dialog fonts to a font with Chinese glyphs.
  local reg="$WINEPREFIX/kestrin-fonts.reg"
  iconv -f UTF-8 -t UTF-16LE "$KESTRIN_ROOT/scripts/wine-fonts.reg" | { printf '\xff\xfe'; cat; } > "$reg"
  wine reg import "$(winepath -w "$reg")" >/dev/null 2>&1 || echo "wine-env: font settings not imported" >&2
  local fonts="$WINEPREFIX/drive_c/windows/Fonts"
  mkdir -p "$fonts"
  for f in /usr/share/wine/fonts/marlett.ttf /usr/share/fonts/truetype/wqy/wqy-microhei.ttc; do
    [ -f "$f" ] && cp "$f" "$fonts/"
  done
  wineserver -w
  touch "$stamp"
}

kestrin_wine_down() {
  wineserver -k >/dev/null 2>&1 || true
  wineserver -w >/dev/null 2>&1 || true
  if [ -n "$KESTRIN_XVFB_PID" ]; then kill "$KESTRIN_XVFB_PID" 2>/dev/null || true; fi
  if [ -n "$KESTRIN_WINE_SHIMS" ]; then rm -rf "$KESTRIN_WINE_SHIMS"; fi
}

# The benchmark scripts' set-up, run from the top of the tree: the Windows
# build that runs here (sets bits), in its own prefix, on a virtual display;
# Wine and the display go when the script ends.
kestrin_bench_session() {
  bits=$(kestrin_wine_pick)
  export KESTRIN_PREFIX="$PWD/build-win$bits/wineprefix"
  kestrin_use_wine "$bits"
  trap kestrin_wine_down EXIT
  echo "Benchmarks: the $bits-bit build (build-win$bits) under $WINELOADER"
  kestrin_start_display
  kestrin_prepare_prefix
}
