#!/usr/bin/env bash
# Runs every test: the native suite (Linux, ctest) and the Win32 suite
# (MinGW build, run under Wine on a virtual display, ctest).
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
kestrin_install_deps
jobs=$(nproc)

cmake -S . -B build-native -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build-native -j"$jobs"
(cd build-native && ctest --output-on-failure -j"$jobs")

cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DCMAKE_BUILD_TYPE=Release -DKESTRIN_TESTS=ON >/dev/null
cmake --build build-win -j"$jobs"
(cd build-win && ctest --output-on-failure)
