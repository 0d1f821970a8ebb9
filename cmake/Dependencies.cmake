# inih (its C parser and C++ reader) and Xbyak, as targets freeplot::inih and freeplot::xbyak.
#
# inih is built from its source at one pinned commit (tag r62, the version vcpkg's baseline
# gives the MSVC build), on every platform but vcpkg's, so that the tests, the settings checker,
# the fuzzer and the plugin players install all read settings alike. Where a network exists,
# FetchContent fetches that commit; on machines without one the same source is given with
# FETCHCONTENT_SOURCE_DIR_INIH, which this file sets itself when the untouched copy lies beside the
# checkout (../shared/third_party/inih-r62).
# Xbyak is header-only: Debian's libxbyak-dev (its headers are platform-neutral, so the mingw-w64
# build takes them too, through a private include folder in the build tree, never the host's
# whole /usr/include, whose glibc headers must not reach the Windows compiler); vcpkg's with MSVC.

add_library(freeplot::xbyak INTERFACE IMPORTED)

if(MSVC)
  find_package(unofficial-inih CONFIG REQUIRED)
  find_package(xbyak CONFIG REQUIRED)
  add_library(freeplot::inih INTERFACE IMPORTED)
  target_link_libraries(freeplot::inih INTERFACE unofficial::inih::inireader)
  target_link_libraries(freeplot::xbyak INTERFACE xbyak::xbyak)
  return()
endif()

if(WIN32)
  set(_hdr ${CMAKE_BINARY_DIR}/third_party_headers)
  foreach(f xbyak/xbyak.h xbyak/xbyak_mnemonic.h xbyak/xbyak_util.h)
    if(NOT EXISTS /usr/include/${f})
      message(FATAL_ERROR "/usr/include/${f} missing: install libxbyak-dev")
    endif()
    configure_file(/usr/include/${f} ${_hdr}/${f} COPYONLY)
  endforeach()
  target_include_directories(freeplot::xbyak SYSTEM INTERFACE ${_hdr})
else()
  find_package(xbyak CONFIG REQUIRED)
  target_link_libraries(freeplot::xbyak INTERFACE xbyak::xbyak)
endif()

include(FetchContent)
if(NOT FETCHCONTENT_SOURCE_DIR_INIH)
  # The untouched copy sits in shared/third_party beside the checkout, or beside a folder above
  # it (a clone made further down); these machines keep it in /work/shared.
  set(_candidates)
  set(_dir "${PROJECT_SOURCE_DIR}")
  foreach(_level RANGE 4)
    get_filename_component(_dir "${_dir}" DIRECTORY)
    list(APPEND _candidates "${_dir}/shared/third_party/inih-r62")
  endforeach()
  list(APPEND _candidates "/work/shared/third_party/inih-r62")
  foreach(_candidate ${_candidates})
    if(EXISTS "${_candidate}/ini.c" AND EXISTS "${_candidate}/cpp/INIReader.cpp")
      get_filename_component(_found "${_candidate}" REALPATH)
      set(FETCHCONTENT_SOURCE_DIR_INIH "${_found}" CACHE PATH "inih's source (tag r62)")
      break()
    endif()
  endforeach()
endif()
FetchContent_Declare(inih
  GIT_REPOSITORY https://github.com/benhoyt/inih.git
  GIT_TAG 26254ee9de7681f8825433415443e7116ff24b98)  # r62
FetchContent_GetProperties(inih)
if(NOT inih_POPULATED)
  FetchContent_Populate(inih)
endif()
message(STATUS "inih r62 from ${inih_SOURCE_DIR}")

# Built with inih's own defaults (those of its releases and of vcpkg's port): lines of up to
# 200 bytes, inline ';' comments, continuation lines, a UTF-8 byte-order mark skipped.
add_library(freeplot_inih STATIC ${inih_SOURCE_DIR}/ini.c ${inih_SOURCE_DIR}/cpp/INIReader.cpp)
target_include_directories(freeplot_inih SYSTEM PUBLIC ${inih_SOURCE_DIR} ${inih_SOURCE_DIR}/cpp)
add_library(freeplot::inih ALIAS freeplot_inih)
# The sources the settings fuzzer compiles itself, instrumented.
set(FREEPLOT_INIH_SOURCES ${inih_SOURCE_DIR}/ini.c ${inih_SOURCE_DIR}/cpp/INIReader.cpp)
set(FREEPLOT_INIH_INCLUDE_DIRS ${inih_SOURCE_DIR} ${inih_SOURCE_DIR}/cpp)
