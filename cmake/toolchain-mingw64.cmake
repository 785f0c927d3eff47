# Cross build for 64-bit Windows with Debian's MinGW-w64 (g++-mingw-w64-x86-64).
#
# The posix threads variant of the compiler: std::thread and std::mutex need it (the win32
# variant of GCC 12 has neither). Everything the executables need from the compiler's own
# runtime (libgcc, libstdc++, winpthread) is linked in statically, so a .exe runs under wine
# or on a bare Windows machine with the system DLLs alone.

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(VORLIX_MINGW_TRIPLET x86_64-w64-mingw32)
find_program(CMAKE_C_COMPILER NAMES ${VORLIX_MINGW_TRIPLET}-gcc-posix REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${VORLIX_MINGW_TRIPLET}-g++-posix REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${VORLIX_MINGW_TRIPLET}-windres)

# Headers and libraries of the target only; programs of the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/${VORLIX_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# -static takes winpthread from its archive too; the C and C++ runtimes are named as well so
# that nothing falls back to a DLL if -static is ever dropped.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Test executables (and GoogleTest's test discovery at build time) run under wine when it is
# installed. Without it the build still produces the .exe files, but the discovery step fails:
# install wine, or build with -DCMAKE_CROSSCOMPILING_EMULATOR= set to another runner.
if(NOT DEFINED CMAKE_CROSSCOMPILING_EMULATOR)
  find_program(VORLIX_WINE NAMES wine wine64)
  if(VORLIX_WINE)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${VORLIX_WINE})
  endif()
endif()
