# Test executables (and GoogleTest's test discovery at build time) run under wine when it is
# installed. Without it the build still produces the .exe files, but the discovery step fails:
# install wine, or build with -DCMAKE_CROSSCOMPILING_EMULATOR= set to another runner.
if(NOT DEFINED CMAKE_CROSSCOMPILING_EMULATOR)
  find_program(VORLIX_WINE NAMES wine wine64)
  if(VORLIX_WINE)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${VORLIX_WINE})
  endif()
endif()
