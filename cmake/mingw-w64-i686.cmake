# Cross-builds the Windows program for 32-bit Windows, the release build, with Debian's
# MinGW-w64 (g++-mingw-w64). Programs built with it cannot run on a machine without 32-bit
# support, wine included.
set(VARNOTH_MINGW_TRIPLET i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
