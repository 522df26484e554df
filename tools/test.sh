#!/usr/bin/env bash
# Installs what is missing, builds the tool and the window for Windows, their
# installer and ZIP, and runs their own tests under Wine; builds with warnings
# as errors and runs every test (the Windows tool, window and installer under
# Wine beside the Linux ones among them); then the tests where
# threads meet under ThreadSanitizer and everything under ASan+UBSan; last,
# the Debian package of the ci build.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh
# First, as the Linux tests run this vqt540.exe (VQT_WINDOWS_TOOL).
cmake --preset mingw
cmake --build --preset mingw -j2
ctest --preset mingw
cpack --preset mingw
# The window for Windows against the Qt that build-qt-mingw.sh builds once
# (half an hour on a fresh machine, nothing when cached): its tests run under
# Wine from the ci build's tst_monitor_wine, the MSI by tst_install_wine.
bash tools/build-qt-mingw.sh
cmake --preset mingw-gui
cmake --build --preset mingw-gui -j2
ctest --preset mingw-gui
cmake --build --preset mingw-gui --target msi
cpack --preset mingw-gui
cmake --preset ci
cmake --build --preset ci -j2
ctest --preset ci -j2
# Where threads meet (the worker, the windows and the command-line tool against
# the simulator) once more under ThreadSanitizer.
cmake --preset tsan
# The tests labelled threads are named as their targets: build just those.
mapfile -t threaded < <(ctest --preset tsan -L threads -N | sed -n 's/^ *Test *#[0-9]*: //p')
cmake --build --preset tsan -j2 --target "${threaded[@]}"
ctest --preset tsan -L threads
# Every test once more under AddressSanitizer and UndefinedBehaviorSanitizer,
# but the Wine one: what it tests is the uninstrumented exe.
cmake --preset asan
cmake --build --preset asan -j2
ctest --preset asan -j2 -LE wine
# The Debian package from the ci build (RelWithDebInfo, built and tested
# above, so cpack builds nothing again): its files and computed dependencies,
# and where this runs as root, installed, run and removed again.
cpack --preset ci-deb
bash tools/check-package.sh build/ci
