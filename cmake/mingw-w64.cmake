# Windows (mingw-w64) with clang 14: the C and C++ runtimes, headers and import libraries of
# Debian's mingw-w64 (libstdc++ of its POSIX-thread GCC), the code compiled by clang, which
# writes CodeView debug information, so that lld can keep a PDB beside the DLL for crash reports
# (Windows' own debugging libraries read PDBs, not DWARF). Programs that need GNU ld's linker
# script (the simulated game) link with GNU ld; the plugin links with lld.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(FREEPLOT_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER clang-14)
set(CMAKE_CXX_COMPILER clang++-14)
set(CMAKE_C_COMPILER_TARGET ${FREEPLOT_MINGW_TRIPLE})
set(CMAKE_CXX_COMPILER_TARGET ${FREEPLOT_MINGW_TRIPLE})
set(CMAKE_RC_COMPILER ${FREEPLOT_MINGW_TRIPLE}-windres)
set(CMAKE_SYSROOT /usr/${FREEPLOT_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH /usr/${FREEPLOT_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# Clang does not recognise Debian's folder of the mingw-w64 GCC (".../12-posix"): its libstdc++
# headers and its libraries are named here, found through that GCC itself.
execute_process(COMMAND ${FREEPLOT_MINGW_TRIPLE}-g++-posix -print-libgcc-file-name
                OUTPUT_VARIABLE _libgcc OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE _found)
if(NOT _found EQUAL 0 OR NOT EXISTS "${_libgcc}")
  message(FATAL_ERROR "${FREEPLOT_MINGW_TRIPLE}-g++-posix not found: install "
                      "g++-mingw-w64-x86-64-posix (scripts/setup.sh)")
endif()
get_filename_component(FREEPLOT_MINGW_GCC_DIR "${_libgcc}" DIRECTORY)
set(_cxx "${FREEPLOT_MINGW_GCC_DIR}/include/c++")
set(CMAKE_CXX_FLAGS_INIT
    "-nostdinc++ -isystem ${_cxx} -isystem ${_cxx}/${FREEPLOT_MINGW_TRIPLE} -isystem ${_cxx}/backward")
# GNU ld by default (clang's mingw driver calls x86_64-w64-mingw32-ld).
# The C++ include flags above reach the link lines too, where clang would warn of them.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-L${FREEPLOT_MINGW_GCC_DIR} -Qunused-arguments")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-L${FREEPLOT_MINGW_GCC_DIR} -Qunused-arguments")
