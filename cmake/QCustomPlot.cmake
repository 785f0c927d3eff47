# QCustomPlot 2.1, the trend's plot on every platform, built from Debian's `qcustomplot` source
# package as a static library of its own. Its code is not ours: it builds with the compiler's
# default warnings, never as errors, and its header is a system one to the targets that use it.
#
# The source is fetched once per machine (apt verifies it) into a cache outside the checkout and
# reused by every build tree; VORLIX_QCUSTOMPLOT_SOURCE points at another folder holding
# qcustomplot.h and qcustomplot.cpp (an offline machine, a copy carried in by hand).

set(_qcp_version 2.1.0)
if(DEFINED ENV{XDG_CACHE_HOME} AND NOT "$ENV{XDG_CACHE_HOME}" STREQUAL "")
  set(_qcp_cache_root "$ENV{XDG_CACHE_HOME}/vorlix")
else()
  set(_qcp_cache_root "$ENV{HOME}/.cache/vorlix")
endif()
set(VORLIX_QCUSTOMPLOT_SOURCE "${_qcp_cache_root}/qcustomplot-${_qcp_version}" CACHE PATH
    "Folder with QCustomPlot's qcustomplot.h and qcustomplot.cpp (fetched when missing)")

function(_vorlix_fetch_qcustomplot dest)
  get_filename_component(parent "${dest}" DIRECTORY)
  file(MAKE_DIRECTORY "${parent}")
  # Two configures at once (a debug and a release tree) fetch it once.
  file(LOCK "${dest}.lock" GUARD FUNCTION TIMEOUT 600)
  if(EXISTS "${dest}/qcustomplot.h" AND EXISTS "${dest}/qcustomplot.cpp")
    return()
  endif()
  message(STATUS "QCustomPlot: fetching Debian's qcustomplot source into ${dest}")
  set(scratch "${dest}.fetch")
  file(REMOVE_RECURSE "${scratch}")
  execute_process(
    COMMAND bash "${PROJECT_SOURCE_DIR}/scripts/fetch-debian-source.sh" qcustomplot "${scratch}"
    OUTPUT_VARIABLE unpacked OUTPUT_STRIP_TRAILING_WHITESPACE
    RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "QCustomPlot: fetching Debian's qcustomplot source failed (${status}); "
                        "give its folder with -DVORLIX_QCUSTOMPLOT_SOURCE=<folder>")
  endif()
  # The script's last line names the unpacked folder.
  string(REGEX REPLACE ".*\n" "" unpacked "${unpacked}")
  file(STRINGS "${unpacked}/qcustomplot.h" version_line REGEX "^\\*\\*  *Version: ")
  string(REPLACE "." "\\." version_pattern "${_qcp_version}")
  if(NOT version_line MATCHES "Version: ${version_pattern} ")
    message(FATAL_ERROR "QCustomPlot: ${unpacked} is not version ${_qcp_version} (${version_line})")
  endif()
  # Only what the build and the licence notice need; a rename makes the cache whole or absent.
  set(staged "${dest}.staged")
  file(REMOVE_RECURSE "${staged}")
  file(MAKE_DIRECTORY "${staged}")
  foreach(name qcustomplot.h qcustomplot.cpp GPL.txt changelog.txt)
    file(COPY "${unpacked}/${name}" DESTINATION "${staged}")
  endforeach()
  file(RENAME "${staged}" "${dest}")
  file(REMOVE_RECURSE "${scratch}")
endfunction()

if(NOT EXISTS "${VORLIX_QCUSTOMPLOT_SOURCE}/qcustomplot.h"
   OR NOT EXISTS "${VORLIX_QCUSTOMPLOT_SOURCE}/qcustomplot.cpp")
  _vorlix_fetch_qcustomplot("${VORLIX_QCUSTOMPLOT_SOURCE}")
endif()

# A copy in the build tree, so the cache stays as fetched. Debian's package already carries a
# fix for moc of Qt 6; a plain upstream copy gets ours.
set(_qcp_dir "${PROJECT_BINARY_DIR}/qcustomplot")
set(_qcp_patch "${PROJECT_SOURCE_DIR}/cmake/qcustomplot/qt6-moc-namespace.patch")
set(_qcp_stamp "${_qcp_dir}/source.stamp")
file(SHA256 "${VORLIX_QCUSTOMPLOT_SOURCE}/qcustomplot.h" _qcp_header_hash)
file(SHA256 "${_qcp_patch}" _qcp_patch_hash)
set(_qcp_stamp_text "${VORLIX_QCUSTOMPLOT_SOURCE} ${_qcp_header_hash} ${_qcp_patch_hash}")
set(_qcp_old_stamp "")
if(EXISTS "${_qcp_stamp}")
  file(READ "${_qcp_stamp}" _qcp_old_stamp)
endif()
if(NOT _qcp_old_stamp STREQUAL _qcp_stamp_text)
  file(REMOVE_RECURSE "${_qcp_dir}")
  file(MAKE_DIRECTORY "${_qcp_dir}")
  file(COPY "${VORLIX_QCUSTOMPLOT_SOURCE}/qcustomplot.h" "${VORLIX_QCUSTOMPLOT_SOURCE}/qcustomplot.cpp"
       DESTINATION "${_qcp_dir}")
  file(STRINGS "${_qcp_dir}/qcustomplot.h" _qcp_moc_class REGEX "^class QCP {")
  if(_qcp_moc_class)
    find_program(VORLIX_PATCH_EXECUTABLE patch REQUIRED)
    execute_process(COMMAND "${VORLIX_PATCH_EXECUTABLE}" -p1 --quiet --input "${_qcp_patch}"
                    WORKING_DIRECTORY "${_qcp_dir}" RESULT_VARIABLE _qcp_patched)
    if(NOT _qcp_patched EQUAL 0)
      message(FATAL_ERROR "QCustomPlot: ${_qcp_patch} does not apply to "
                          "${VORLIX_QCUSTOMPLOT_SOURCE}/qcustomplot.h")
    endif()
    message(STATUS "QCustomPlot: applied ${_qcp_patch}")
  endif()
  file(WRITE "${_qcp_stamp}" "${_qcp_stamp_text}")
endif()

add_library(qcustomplot STATIC "${_qcp_dir}/qcustomplot.cpp" "${_qcp_dir}/qcustomplot.h")
target_include_directories(qcustomplot SYSTEM PUBLIC "${_qcp_dir}")
target_link_libraries(qcustomplot PUBLIC Qt6::Widgets Qt6::PrintSupport)
set_target_properties(qcustomplot PROPERTIES AUTOMOC ON)
