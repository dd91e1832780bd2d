#!/usr/bin/env bash
# scripts/deps.sh against a stubbed apt-get: a mirror in sync makes `update`
# fail, and an install that cannot be resolved is retried from the release's
# suite; a failure that stays is reported with exit code 1.
set -uo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
failures=0

# Stubs: every package is missing, we are root, and apt-get does what the
# scenario file says: "update" fails the first <n> calls, a plain install
# fails when "install-fails" is set, one with -t fails when "suite-fails" is.
mkdir -p "$work/bin"
cat > "$work/bin/dpkg" <<'STUB'
#!/bin/sh
[ "$1" = -s ] && exit 1
exit 0
STUB
cat > "$work/bin/id" <<'STUB'
#!/bin/sh
echo 0
STUB
cat > "$work/bin/apt-get" <<'STUB'
#!/bin/sh
echo "apt-get $*" >> "$STUB_DIR/calls"
. "$STUB_DIR/scenario"
case "$1" in
  update)
    n=$(cat "$STUB_DIR/updates" 2>/dev/null || echo 0)
    echo $((n + 1)) > "$STUB_DIR/updates"
    [ "$n" -lt "$update_failures" ] && { echo "E: File has unexpected size" >&2; exit 100; }
    exit 0 ;;
esac
case " $* " in
  *" -t "*) [ -n "${suite_fails:-}" ] && { echo "E: held broken packages" >&2; exit 100; } ;;
  *) [ -n "${install_fails:-}" ] && { echo "E: held broken packages" >&2; exit 100; } ;;
esac
exit 0
STUB
chmod +x "$work/bin/"*

run() {  # scenario text; prints the output, leaves calls in $work/calls
  rm -f "$work/calls" "$work/updates"
  printf '%s\n' "$1" > "$work/scenario"
  STUB_DIR="$work" PATH="$work/bin:$PATH" KESTRIN_APT_RETRY_DELAY=0 \
    bash -c "source '$root/scripts/deps.sh'; kestrin_install_deps" > "$work/out" 2>&1
  echo $? > "$work/rc"
}

expect() {  # what, condition
  if eval "$2"; then :; else
    echo "FAILED: $1"; echo "--- output"; cat "$work/out"; echo "--- calls"; cat "$work/calls"
    failures=$((failures + 1))
  fi
}

suite="$(. /etc/os-release 2>/dev/null && echo "${VERSION_CODENAME:-}")"; suite="${suite:-bookworm}"

run "update_failures=1 install_fails=1"
expect "retries update once" '[ "$(grep -c "^apt-get update" "$work/calls")" = 2 ]'
expect "installs from the suite after the plain install failed" "grep -q -- 'install -y -qq -t $suite' '$work/calls'"
expect "says so in one line" '[ "$(grep -c "^deps:" "$work/out")" = 1 ]'
expect "succeeds" '[ "$(cat "$work/rc")" = 0 ]'

run "update_failures=9"
expect "tries update three times" '[ "$(grep -c "^apt-get update" "$work/calls")" = 3 ]'
expect "goes straight to the suite" '! grep -q "install -y -qq [^-]" "$work/calls" && grep -q -- "-t $suite" "$work/calls"'
expect "names the failed update" 'grep -q "apt-get update failed 3 times" "$work/out"'
expect "succeeds" '[ "$(cat "$work/rc")" = 0 ]'

run "update_failures=0"
expect "a sound mirror installs once, without the suite" '[ "$(grep -c install "$work/calls")" = 1 ] && ! grep -q -- " -t " "$work/calls"'
expect "and says nothing of it" '! grep -q "^deps:" "$work/out"'

run "update_failures=9 suite_fails=1"
expect "a failure that stays gives 1" '[ "$(cat "$work/rc")" = 1 ]'
expect "with the packages named" 'grep -q "cannot be installed.*wine32:i386" "$work/out"'

[ "$failures" = 0 ] && echo "deps.sh: all scenarios passed"
exit $((failures > 0))
