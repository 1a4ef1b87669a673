#!/usr/bin/env bash
# Pictures of windows on a virtual display, saved in build/screenshots/:
#   web_app.png  the web application signed in, in the main window's browser area
set -euo pipefail
cd "$(dirname "$0")/.."
out=build/screenshots
mkdir -p "$out"
[ -f build/CMakeCache.txt ] || cmake -S . -B build -DTALVORA_GUI=ON >/dev/null
cmake --build build -j2 --target browser_host_screenshot talvora-devservice >/dev/null

# The engine's sandbox needs user namespaces that containers and root runs lack.
export QTWEBENGINE_CHROMIUM_FLAGS="--no-sandbox --disable-gpu"
unset QT_QPA_PLATFORM
xvfb-run -a -s "-screen 0 1100x740x24" build/tests/bin/browser_host_screenshot "$out/web_app.png"
echo "$out/web_app.png"
