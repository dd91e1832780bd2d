#!/usr/bin/env bash
# Runs every test: the native suite (Linux, ctest) and the Win32 suite
# (MinGW builds, run under Wine on a virtual display, ctest). Both Windows
# builds are always compiled; the suite runs with the one whose Wine loader
# starts on this machine: the 32-bit release where 32-bit programs run, the
# 64-bit build where they cannot.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
kestrin_install_deps
source scripts/wine-env.sh
jobs=$(nproc)

cmake -S . -B build-native -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build-native -j"$jobs"
(cd build-native && ctest --output-on-failure -j"$jobs")

for arch in i686:32 x86_64:64; do
  cmake -S . -B "build-win${arch#*:}" -DCMAKE_TOOLCHAIN_FILE="cmake/mingw-${arch%:*}.cmake" \
        -DCMAKE_BUILD_TYPE=Release -DKESTRIN_TESTS=ON >/dev/null
  cmake --build "build-win${arch#*:}" -j"$jobs"
done

bits=$(kestrin_wine_pick)
echo "Win32 suite: the $bits-bit build (build-win$bits) under $(kestrin_wine_loader "$bits")"
(cd "build-win$bits" && KESTRIN_REQUIRE_WINE=1 ctest --output-on-failure)
