# The MinGW toolchain of mingw-i686.cmake with its POSIX thread model (g++-mingw-w64-i686-posix), which
# GoogleTest needs for std::mutex; the Windows test programs of tests/wine are built with it.
include(${CMAKE_CURRENT_LIST_DIR}/mingw-i686.cmake)
set(CMAKE_C_COMPILER i686-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++-posix)
