# Sourced by the scripts that run Windows programs under Wine.
# Prepares a Wine prefix of the project's own (never the user's) and a display.
#   KESTRIN_PREFIX  the prefix folder (default: <repo>/build-win/wineprefix)
# After sourcing: WINEPREFIX, WINEARCH, WINEDEBUG, DISPLAY are set; call
# kestrin_wine_down at the end.

KESTRIN_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
export WINEARCH=win32
export WINEPREFIX="${KESTRIN_PREFIX:-$KESTRIN_ROOT/build-win/wineprefix}"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
KESTRIN_XVFB_PID=""

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
}
