# Cross build for 64-bit Windows with Debian's MinGW-w64 (g++-mingw-w64-x86-64): the core, the
# command line and their tests, with no DLL beside them.
#
# Everything the executables need from the compiler's own runtime (libgcc, libstdc++,
# winpthread) is linked in statically, so a .exe runs under wine or on a bare Windows machine
# with the system DLLs alone.

include(${CMAKE_CURRENT_LIST_DIR}/mingw64-compilers.cmake)

# -static takes winpthread from its archive too; the C and C++ runtimes are named as well so
# that nothing falls back to a DLL if -static is ever dropped.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

include(${CMAKE_CURRENT_LIST_DIR}/mingw64-wine.cmake)
