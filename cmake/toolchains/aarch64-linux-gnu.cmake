# Cross build for Debian arm64 (aarch64) with Debian's cross compiler and the arm64 multiarch
# packages: headers in /usr/include, libraries and CMake package files in /usr/lib/aarch64-linux-gnu.
# Qt's moc, uic and rcc are the build machine's own (qt6-base-dev-tools is Multi-Arch: foreign).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)

# pkg-config must see only the arm64 .pc files (and the architecture-independent ones, e.g. udev's).
set(ENV{PKG_CONFIG_LIBDIR} "/usr/lib/aarch64-linux-gnu/pkgconfig:/usr/share/pkgconfig")

# Test programs (and gtest's test discovery) run under qemu-user. The arm64 loader and libraries are
# installed multiarch at their usual paths, so qemu needs no -L and the host no binfmt handler.
find_program(ZRV_AARCH64_EMULATOR NAMES qemu-aarch64-static qemu-aarch64 REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR "${ZRV_AARCH64_EMULATOR}")

