# Cross-compiles the programs for Linux on s390x, a big-endian machine, with
# Debian's cross compiler (package g++-s390x-linux-gnu), so that the byte-order
# branches of the file formats run somewhere. The programs are linked
# statically and so run under qemu-s390x (package qemu-user) without an s390x
# system around them. packaging/s390x.sh makes them with it:
#
#   packaging/s390x.sh
#   qemu-s390x build-s390x/bin/encscreen picture.bmp picture.scn
#
# Libraries (libpng, zlib) are Debian's own s390x packages. The script fetches
# them with `apt-get download` (after `dpkg --add-architecture s390x`) and
# unpacks them with `dpkg -x` into a folder named by VORNE_S390X_SYSROOT,
# which keeps the host's packages untouched: an s390x -dev package installed
# through multiarch must be the very version of the host's, which the archive
# does not always offer. Such an installed one is found too, under /. Only
# static archives are looked for, as a static program needs them.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR s390x)

set(VORNE_S390X_TRIPLET s390x-linux-gnu)
set(CMAKE_C_COMPILER ${VORNE_S390X_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${VORNE_S390X_TRIPLET}-g++)
set(CMAKE_LIBRARY_ARCHITECTURE ${VORNE_S390X_TRIPLET})
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-s390x)

# The cross toolchain's own root, the unpacked packages, then the host's /usr
# for the multiarch library folders.
set(CMAKE_FIND_ROOT_PATH /usr/${VORNE_S390X_TRIPLET} ${VORNE_S390X_SYSROOT} /)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# CMake's Linux platform file, read after this one, puts .so before .a, so the
# static archives are asked for by name: FindPNG tries the names already in
# PNG_NAMES first, FindZLIB has a switch.
set(PNG_NAMES libpng16.a libpng.a)
set(ZLIB_USE_STATIC_LIBS ON)

set(CMAKE_EXE_LINKER_FLAGS_INIT -static)
