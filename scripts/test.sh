#!/usr/bin/env bash
# The whole suite: the full build, then the non-GUI tests again under ASan/UBSan, then
# the fuzz targets.
set -euo pipefail
cd "$(dirname "$0")/.."

export QT_QPA_PLATFORM=offscreen
export QTWEBENGINE_CHROMIUM_FLAGS="--no-sandbox --disable-gpu"

bash scripts/build.sh build -DTALVORA_GUI=ON
(cd build && ctest --output-on-failure -j "$(nproc)" --timeout 300)

# This build also carries the crash tests' kill points (it makes no package).
bash scripts/build.sh build-asan -DTALVORA_GUI=OFF -DTALVORA_SANITIZE=ON -DTALVORA_CRASH_HOOKS=ON
(cd build-asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --output-on-failure -j "$(nproc)" --timeout 300)

# The fuzz targets, each over its corpus plus a fixed number of new inputs.
bash scripts/build.sh build-fuzz -DTALVORA_GUI=OFF -DTALVORA_FUZZ=ON \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++
(cd build-fuzz && ctest --output-on-failure -j "$(nproc)" --timeout 300)

# The Windows build under 32-bit Wine, where the cross compiler is installed (CI sets
# TALVORA_WINE_TESTS=1 so a missing toolchain fails instead of skipping).
if [ "${TALVORA_WINE_TESTS:-0}" = 1 ] || command -v i686-w64-mingw32-g++-posix >/dev/null; then
  bash scripts/wine-tests.sh build-win32
fi
