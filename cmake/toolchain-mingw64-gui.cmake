# Cross build for 64-bit Windows of the whole program, the window included, against the Qt that
# scripts/build-qt-mingw.sh builds and keeps: its folder in VORLIX_QT_MINGW (a cache variable, or
# the environment variable of that name).
#
# Qt's DLLs take the compiler's runtime as DLLs (libgcc_s_seh-1, libstdc++-6, winpthread-1);
# the executables do the same, so one C++ runtime serves the whole process.

include(${CMAKE_CURRENT_LIST_DIR}/mingw64-compilers.cmake)

if(NOT VORLIX_QT_MINGW AND DEFINED ENV{VORLIX_QT_MINGW})
  set(VORLIX_QT_MINGW $ENV{VORLIX_QT_MINGW})
endif()
if(NOT VORLIX_QT_MINGW OR NOT EXISTS ${VORLIX_QT_MINGW}/lib/cmake/Qt6/Qt6Config.cmake)
  message(FATAL_ERROR "No Qt for MinGW-w64 in VORLIX_QT_MINGW='${VORLIX_QT_MINGW}': "
                      "run scripts/build-qt-mingw.sh and pass the folder it prints")
endif()
set(VORLIX_QT_MINGW ${VORLIX_QT_MINGW} CACHE PATH "Qt for MinGW-w64 (scripts/build-qt-mingw.sh)")
list(APPEND CMAKE_FIND_ROOT_PATH ${VORLIX_QT_MINGW})
list(APPEND CMAKE_PREFIX_PATH ${VORLIX_QT_MINGW})

# An optimised build with warnings as errors meets GCC 12's false -Wrestrict on std::string's
# insert and replace (GCC PR 105329); it stays a warning, every other one an error.
set(CMAKE_CXX_FLAGS_INIT "-Wno-error=restrict")

# moc, rcc and uic of the build machine's Qt of the same version.
set(QT_HOST_PATH /usr)
set(QT_HOST_PATH_CMAKE_DIR /usr/lib/x86_64-linux-gnu/cmake)

include(${CMAKE_CURRENT_LIST_DIR}/mingw64-wine.cmake)
