# Cross build for the router: 32-bit little-endian MIPS, Linux, glibc.
#
#   cmake -S . -B build-mipsel -G Ninja \
#         -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mipsel-linux-gnu.cmake \
#         -DCMAKE_BUILD_TYPE=MinSizeRel
#
# Compilers: Debian's mipsel-linux-gnu cross compilers (g++-mipsel-linux-gnu).
# Target libraries: Debian multiarch packages (dpkg --add-architecture mipsel;
# libgtest-dev:mipsel, nettle-dev:mipsel), which live in /usr/lib/mipsel-linux-gnu
# beside the host's own, so the sysroot is "/" and the multiarch directory
# selects the target's files.
# Tests and try_run go through qemu-mipsel (qemu-user) with a hard time limit.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR mipsel)
set(CMAKE_LIBRARY_ARCHITECTURE mipsel-linux-gnu)

set(ROUTER_CROSS_TRIPLET mipsel-linux-gnu)
set(CMAKE_C_COMPILER ${ROUTER_CROSS_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${ROUTER_CROSS_TRIPLET}-g++)
find_program(CMAKE_STRIP NAMES ${ROUTER_CROSS_TRIPLET}-strip)
find_program(CMAKE_READELF NAMES ${ROUTER_CROSS_TRIPLET}-readelf)

# Headers and libraries of the target only: the host's x86-64 libraries sit in
# /usr/lib/x86_64-linux-gnu and must never be picked up. Programs (pkg-config,
# the host tools) come from the host.
set(CMAKE_FIND_ROOT_PATH /usr/${ROUTER_CROSS_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)

# pkg-config reads the target's .pc files only.
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/${ROUTER_CROSS_TRIPLET}/pkgconfig:/usr/share/pkgconfig)
set(ENV{PKG_CONFIG_PATH} "")

# qemu-mipsel runs the tests. "-L /" makes it load the dynamic linker and
# libraries of the multiarch packages (/lib/ld.so.1, /lib/mipsel-linux-gnu).
# Never "-L /usr/mipsel-linux-gnu": that tree holds the cross toolchain's own
# glibc build, and mixing it with the multiarch one crashes every forked child.
# `timeout -s KILL` bounds every emulated run: a hung qemu that is pid 1 of a
# PID namespace ignores SIGTERM.
set(ROUTER_EMULATOR_TIMEOUT 300 CACHE STRING "Seconds before an emulated program is killed")
find_program(ROUTER_QEMU NAMES qemu-mipsel REQUIRED)
find_program(ROUTER_TIMEOUT NAMES timeout REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR
    ${ROUTER_TIMEOUT} -s KILL ${ROUTER_EMULATOR_TIMEOUT} ${ROUTER_QEMU} -L /)

# Position-dependent programs: on MIPS, PIE code reaches every global and
# function through the GOT, and -mplt lets non-PIC calls into shared
# libraries go through a PLT. Measured: netmgr stripped 68 KB as PIE, 51 KB
# without. The price is a fixed load address for the program itself.
option(ROUTER_PIE "Build position-independent executables for the router" OFF)
if(NOT ROUTER_PIE)
  set(CMAKE_C_FLAGS_INIT "-fno-pie -mplt")
  set(CMAKE_CXX_FLAGS_INIT "-fno-pie -mplt")
  set(CMAKE_EXE_LINKER_FLAGS_INIT "-no-pie")
endif()
