#!/usr/bin/env bash
# Builds everything and runs every test: the native tests, the same tests under
# AddressSanitizer and UndefinedBehaviorSanitizer, a bounded fuzzing run, the format
# check of the Windows executable, and the end-to-end table under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

cmake --preset native
cmake --build --preset native
ctest --preset native

cmake --preset sanitize
cmake --build --preset sanitize
ctest --preset sanitize

# A bounded fuzzing run; container/fuzz/run_fuzz.sh 1800 runs half an hour.
container/fuzz/run_fuzz.sh 60

cmake --preset windows
cmake --build --preset windows
/usr/bin/python3 winui/tests/check_executable.py build/windows/Tinselpair.exe
/usr/bin/python3 winui/tests/check_executable_test.py build/windows/Tinselpair.exe
/usr/bin/python3 winui/e2e/run_e2e.py build/windows/Tinselpair.exe \
    build/windows/winui/e2e/tinselpair_e2e_driver.exe
