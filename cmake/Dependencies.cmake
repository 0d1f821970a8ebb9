# inih (INIReader + ini.h) and Xbyak, as imported targets freeplot::inih and freeplot::xbyak.
#
# Linux: Debian's libinih-dev and libxbyak-dev.
# mingw-w64 cross build: the same headers are platform-neutral, so they are taken from the
# host's Debian packages through a private include folder in the build tree (never the host's
# whole /usr/include, whose glibc headers must not reach the Windows compiler). A Windows
# build of the inih libraries is looked for under FREEPLOT_WIN_INIH_ROOT; only when it is
# found can the DLL itself be linked.
# MSVC: vcpkg's inih and xbyak packages.

add_library(freeplot::inih INTERFACE IMPORTED)
add_library(freeplot::xbyak INTERFACE IMPORTED)

if(MSVC)
  find_package(unofficial-inih CONFIG REQUIRED)
  find_package(xbyak CONFIG REQUIRED)
  target_link_libraries(freeplot::inih INTERFACE unofficial::inih::inireader)
  target_link_libraries(freeplot::xbyak INTERFACE xbyak::xbyak)
  set(FREEPLOT_CAN_LINK_DLL ON)
elseif(WIN32)
  set(_hdr ${CMAKE_BINARY_DIR}/third_party_headers)
  foreach(f INIReader.h ini.h xbyak/xbyak.h xbyak/xbyak_mnemonic.h xbyak/xbyak_util.h)
    if(NOT EXISTS /usr/include/${f})
      message(FATAL_ERROR "/usr/include/${f} missing: install libinih-dev and libxbyak-dev")
    endif()
    configure_file(/usr/include/${f} ${_hdr}/${f} COPYONLY)
  endforeach()
  target_include_directories(freeplot::inih SYSTEM INTERFACE ${_hdr})
  target_include_directories(freeplot::xbyak SYSTEM INTERFACE ${_hdr})
  set(FREEPLOT_WIN_INIH_ROOT "" CACHE PATH "Folder with lib/libINIReader.a and lib/libinih.a built for Windows")
  find_library(FREEPLOT_WIN_INIREADER NAMES INIReader PATHS ${FREEPLOT_WIN_INIH_ROOT}/lib NO_DEFAULT_PATH)
  find_library(FREEPLOT_WIN_INIH NAMES inih PATHS ${FREEPLOT_WIN_INIH_ROOT}/lib NO_DEFAULT_PATH)
  if(FREEPLOT_WIN_INIREADER AND FREEPLOT_WIN_INIH)
    target_link_libraries(freeplot::inih INTERFACE ${FREEPLOT_WIN_INIREADER} ${FREEPLOT_WIN_INIH})
    set(FREEPLOT_CAN_LINK_DLL ON)
  else()
    message(STATUS "No Windows build of inih found: the sources compile, the DLL is not linked")
    set(FREEPLOT_CAN_LINK_DLL OFF)
  endif()
else()
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(INIREADER REQUIRED IMPORTED_TARGET INIReader inih)
  find_package(xbyak CONFIG REQUIRED)
  target_link_libraries(freeplot::inih INTERFACE PkgConfig::INIREADER)
  target_link_libraries(freeplot::xbyak INTERFACE xbyak::xbyak)
  set(FREEPLOT_CAN_LINK_DLL ON)
endif()
