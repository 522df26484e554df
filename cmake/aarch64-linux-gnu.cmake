# 64-bit ARM Linux (a Raspberry Pi with a 64-bit system) with Debian's cross
# compiler and the arm64 builds of the libraries, installed beside the
# host's by multiarch (tools/setup.sh). The programs and the tests run under
# qemu-user; Qt's tools (moc) are the host's.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)

set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)

# Multiarch keeps the arm64 libraries in /usr/lib/aarch64-linux-gnu under the
# host's own root; the compiler's target folders come first.
set(CMAKE_FIND_ROOT_PATH /usr/aarch64-linux-gnu /)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/aarch64-linux-gnu/pkgconfig:/usr/share/pkgconfig)
set(ENV{PKG_CONFIG_PATH} "")

set(QT_HOST_PATH /usr)
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64)
