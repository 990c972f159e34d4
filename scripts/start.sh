#!/usr/bin/env bash
# Builds the 32-bit Windows program and starts it under Wine on this display.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

cmake --preset windows
cmake --build --preset windows
