# Cross-compiles the programs for 64-bit Windows with Debian's MinGW-w64
# (package g++-mingw-w64-x86-64-posix). packaging/windows-zip.sh uses it for
# libpng and the programs and makes the zip; by hand, once libpng is there:
#
#   cmake -S . -B build-mingw -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DVORNE_BUILD_TESTS=OFF
#   cmake --build build-mingw -j2
#
# The .exe files land in build-mingw/bin/. CMakeLists.txt links every MinGW
# build statically, so they need no DLL beside them: a user copies the three
# files and runs them.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(VORNE_MINGW_PREFIX x86_64-w64-mingw32)
# The -posix compilers carry the C++ thread support that std::filesystem and
# the rest of the library expect; the -win32 ones lack parts of it.
set(CMAKE_C_COMPILER ${VORNE_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VORNE_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${VORNE_MINGW_PREFIX}-windres)

# Debian's MinGW-w64 libraries (zlib from libz-mingw-w64-dev), and libpng,
# which Debian does not ship for MinGW-w64: packaging/windows-zip.sh
# cross-builds it from Debian's source package into build-mingw-deps/ of this
# checkout.
set(CMAKE_FIND_ROOT_PATH /usr/${VORNE_MINGW_PREFIX} ${CMAKE_CURRENT_LIST_DIR}/../build-mingw-deps)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
