# Cross-building for 64-bit Windows with Debian's mingw-w64, POSIX-threads flavour (winpthreads,
# so std::thread and the POSIX thread calls work). Used for the graphics library, GoogleTest and
# the game alike: cmake -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake ...
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${MINGW_TRIPLET}-windres)

# Headers and libraries of the target come from the mingw tree and from the folders a build adds
# to CMAKE_FIND_ROOT_PATH (the cross-built graphics library and GoogleTest); programs from the
# host.
list(APPEND CMAKE_FIND_ROOT_PATH /usr/${MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
