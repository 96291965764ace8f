# Shared by the MinGW-w64 toolchain files; VARNOTH_MINGW_TRIPLET names the target.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${VARNOTH_MINGW_TRIPLET})

# Debian ships each compiler in a "-win32" and a "-posix" threading flavour. Only the posix
# one has std::mutex, which GoogleTest needs for the Windows tests; its winpthread library is
# linked in statically like the rest of the runtime, so no DLL comes with it.
find_program(CMAKE_C_COMPILER NAMES ${VARNOTH_MINGW_TRIPLET}-gcc-posix REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${VARNOTH_MINGW_TRIPLET}-g++-posix REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${VARNOTH_MINGW_TRIPLET}-windres REQUIRED)

set(CMAKE_FIND_ROOT_PATH /usr/${VARNOTH_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The C++ runtime goes into each .exe, so that a program needs nothing beyond what Windows
# has: KERNEL32, USER32 and msvcrt.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
