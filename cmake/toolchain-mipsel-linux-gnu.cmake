# Cross build for the controller: 32-bit MIPS, little-endian, Debian's
# mipsel-linux-gnu toolchain with the mipsel development packages installed
# through multiarch (scripts/setup-cross.sh). Programs built here run under
# qemu-mipsel, which CTest and gtest_discover_tests use as the emulator.
#
#   cmake -S . -B build-mipsel -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mipsel-linux-gnu.cmake
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR mipsel)
set(CMAKE_LIBRARY_ARCHITECTURE mipsel-linux-gnu)

set(VELTA36_CROSS_TRIPLE mipsel-linux-gnu)
find_program(CMAKE_C_COMPILER NAMES ${VELTA36_CROSS_TRIPLE}-gcc REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${VELTA36_CROSS_TRIPLE}-g++ REQUIRED)
find_program(CMAKE_AR NAMES ${VELTA36_CROSS_TRIPLE}-ar)
find_program(CMAKE_RANLIB NAMES ${VELTA36_CROSS_TRIPLE}-ranlib)
find_program(CMAKE_STRIP NAMES ${VELTA36_CROSS_TRIPLE}-strip)
find_program(CMAKE_OBJDUMP NAMES ${VELTA36_CROSS_TRIPLE}-objdump)
find_program(CMAKE_READELF NAMES ${VELTA36_CROSS_TRIPLE}-readelf)

# Multiarch: mipsel libraries live in /usr/lib/mipsel-linux-gnu, their
# CMake package files below it, and the headers in /usr/include (shared) or
# /usr/include/mipsel-linux-gnu. The cross compiler's own files are in
# /usr/mipsel-linux-gnu.
set(CMAKE_FIND_ROOT_PATH /usr/${VELTA36_CROSS_TRIPLE} /)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_IGNORE_PATH /usr/lib/x86_64-linux-gnu /lib/x86_64-linux-gnu)
set(ENV{PKG_CONFIG_LIBDIR} "/usr/lib/${VELTA36_CROSS_TRIPLE}/pkgconfig:/usr/share/pkgconfig")

# 32-bit MIPS has no 64-bit atomic instructions: std::atomic<uint64_t> and
# the like call libatomic. It goes last on every link line and is recorded
# only where something uses it (never in velta36.so's needed list, which the
# tests check).
set(CMAKE_CXX_STANDARD_LIBRARIES_INIT "-Wl,--push-state,--as-needed -latomic -Wl,--pop-state")
set(CMAKE_C_STANDARD_LIBRARIES_INIT "-Wl,--push-state,--as-needed -latomic -Wl,--pop-state")

# qemu-mipsel finds the multiarch loader /lib/ld.so.1 itself; no -L.
find_program(VELTA36_QEMU NAMES qemu-mipsel qemu-mipsel-static REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${VELTA36_QEMU})
