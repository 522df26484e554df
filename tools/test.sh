#!/usr/bin/env bash
# Installs what is missing, builds with warnings as errors and runs every test;
# then the worker under ThreadSanitizer and everything under ASan+UBSan.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh
cmake --preset ci
cmake --build --preset ci -j2
ctest --preset ci -j2
# The worker and the simulator once more under ThreadSanitizer.
cmake --preset tsan
cmake --build --preset tsan -j2 --target tst_worker
ctest --preset tsan -L worker
# Every test once more under AddressSanitizer and UndefinedBehaviorSanitizer.
cmake --preset asan
cmake --build --preset asan -j2
ctest --preset asan -j2
