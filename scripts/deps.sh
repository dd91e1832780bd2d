# Sourced: installs the Debian 12 packages the builds, tests and demo need,
# when they are missing and this runs as root. Both Windows builds need their
# compiler; Wine comes with both loaders, since which one runs depends on the
# machine (see scripts/wine-env.sh).
#
# A mirror caught mid-sync serves an index of the wrong size: `apt-get
# update` then fails on that one index, and the other architecture's newer
# versions cannot be matched ("held broken packages"). The update is tried a
# few times; where an index still cannot be had, or the install cannot be
# resolved, the packages come from the release's own suite (`-t bookworm`),
# which holds matching versions for both architectures.
#   KESTRIN_APT_TRIES        how many times `apt-get update` is tried (3)
#   KESTRIN_APT_RETRY_DELAY  seconds before the next try (5, then 10, ...)

kestrin_apt_suite() {
  local codename=""
  if [ -r /etc/os-release ]; then
    codename="$(. /etc/os-release && echo "${VERSION_CODENAME:-}")"
  fi
  echo "${codename:-bookworm}"
}

kestrin_apt_update() {
  local tries="${KESTRIN_APT_TRIES:-3}" delay="${KESTRIN_APT_RETRY_DELAY:-5}" i
  for i in $(seq 1 "$tries"); do
    apt-get update -qq && return 0
    [ "$i" -lt "$tries" ] && sleep $((delay * i))
  done
  return 1
}

kestrin_apt_install() {
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$@" >/dev/null
}

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
  local suite updated=1
  suite="$(kestrin_apt_suite)"
  kestrin_apt_update || updated=0
  if [ "$updated" = 1 ] && kestrin_apt_install "${missing[@]}"; then
    return 0
  fi
  if [ "$updated" = 1 ]; then
    echo "deps: the install could not be resolved with every suite; installing from the release's suite ($suite)"
  else
    echo "deps: apt-get update failed ${KESTRIN_APT_TRIES:-3} times (a mirror in sync?); installing from the release's suite ($suite) with the indexes there are"
  fi
  if kestrin_apt_install -t "$suite" "${missing[@]}"; then
    return 0
  fi
  echo "deps: these packages cannot be installed, also not from $suite: ${missing[*]}" >&2
  return 1
}
