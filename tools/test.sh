#!/usr/bin/env bash
# Installs what is missing, builds the tool and the window for Windows, their
# installer and ZIP, and runs their own tests under Wine; the tool and the
# simulator for arm64, their plain tests under qemu-user; builds with warnings
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
# The tool and the simulator for arm64 with Debian's cross compiler, the
# plain parts' tests under qemu-user, and their package; the ci build's
# tst_cli_arm64 then runs this vqt540 against the simulator and a broker.
cmake --preset arm64
cmake --build --preset arm64 -j2
ctest --preset arm64 -j2
cpack --preset arm64-deb
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
# but those of Wine and arm64: what they test is the uninstrumented programs.
cmake --preset asan
cmake --build --preset asan -j2
ctest --preset asan -j2 -LE "wine|arm64"
# The Debian packages from the ci build (RelWithDebInfo, built and tested
# above, so cpack builds nothing again): their files and computed
# dependencies, and where this runs as root, installed over the single
# package of 0.2, run and removed again; then the arm64 one.
cpack --preset ci-deb
bash tools/check-package.sh build/ci
bash tools/check-package.sh build/arm64
