#!/usr/bin/env bash
# Starts the program from the build folder; under xvfb-run when there is no display.
set -euo pipefail
cd "$(dirname "$0")/.."
bin=build/bin
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "No display found: running Talvora under xvfb-run (a virtual display)."
  exec xvfb-run -a "$bin/talvora"
fi
exec "$bin/talvora"
