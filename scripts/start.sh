#!/usr/bin/env bash
# Builds the 32-bit Windows program and starts it under Wine on this display.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

cmake --preset windows
cmake --build --preset windows

if ! timeout 5 xdpyinfo >/dev/null 2>&1; then
    echo "Built build/windows/Tinselpair.exe, but no X display is reachable (DISPLAY='${DISPLAY:-}'), so it was not started." >&2
    exit 1
fi
# No Mono or Gecko installer prompt: the program needs neither.
WINEDLLOVERRIDES="mscoree,mshtml=" WINEDEBUG=-all exec wine build/windows/Tinselpair.exe
