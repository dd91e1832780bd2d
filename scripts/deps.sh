# Sourced: installs the Debian 12 packages the builds, tests and demo need,
# when they are missing and this runs as root. Both Windows builds need their
# compiler; Wine comes with both loaders, since which one runs depends on the
# machine (see scripts/wine-env.sh).
kestrin_install_deps() {
  local pkgs=(cmake make g++ googletest g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix
              wine wine32:i386 wine64 xvfb x11-utils fonts-wqy-microhei imagemagick e2fsprogs)
  local missing=()
  local p
  for p in "${pkgs[@]}"; do
    dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  if [ "$(id -u)" != 0 ]; then
    echo "missing packages (run as root to install them): ${missing[*]}" >&2
    return 1
  fi
  echo "installing: ${missing[*]}"
  dpkg --add-architecture i386
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
}
