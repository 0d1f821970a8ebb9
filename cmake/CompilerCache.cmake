# The compiler cache. When ccache is installed and its cache folder can be written, every compile
# of every preset goes through it. The cache lives outside the build tree (ccache's own folder,
# or $CCACHE_DIR), and paths inside the checkout are hashed relative to it, so a fresh clone of
# the same commit on the same machine finds everything compiled before. Without ccache, or with
# a cache folder it cannot write, the build goes on without it and says so in one line.

option(FREEPLOT_CCACHE "Compile through ccache when it is installed" ON)

function(freeplot_use_compiler_cache)
  if(NOT FREEPLOT_CCACHE OR CMAKE_CXX_COMPILER_LAUNCHER)
    return()
  endif()
  find_program(FREEPLOT_CCACHE_PROGRAM ccache)
  if(NOT FREEPLOT_CCACHE_PROGRAM)
    message(STATUS "Compiler cache: ccache is not installed, compiling without it")
    return()
  endif()
  execute_process(COMMAND ${FREEPLOT_CCACHE_PROGRAM} --get-config cache_dir
                  OUTPUT_VARIABLE dir OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE got)
  set(probe "${dir}/.freeplot-write-probe")
  execute_process(COMMAND ${CMAKE_COMMAND} -E make_directory "${dir}" RESULT_VARIABLE made
                  OUTPUT_QUIET ERROR_QUIET)
  execute_process(COMMAND ${CMAKE_COMMAND} -E touch "${probe}" RESULT_VARIABLE touched
                  OUTPUT_QUIET ERROR_QUIET)
  if(NOT got EQUAL 0 OR dir STREQUAL "" OR NOT made EQUAL 0 OR NOT touched EQUAL 0)
    message(STATUS "Compiler cache: ccache's folder '${dir}' cannot be written, compiling without it")
    return()
  endif()
  file(REMOVE "${probe}")
  # base_dir: paths under the checkout are hashed relative to the build folder, so two clones
  # share entries. No directory hashing: the debug information names the first clone's folder.
  # The sloppiness lets precompiled headers be cached.
  set(launcher /usr/bin/env "CCACHE_BASEDIR=${PROJECT_SOURCE_DIR}" CCACHE_NOHASHDIR=true
      "CCACHE_SLOPPINESS=pch_defines,time_macros,include_file_mtime,include_file_ctime"
      ${FREEPLOT_CCACHE_PROGRAM})
  set(CMAKE_CXX_COMPILER_LAUNCHER "${launcher}" PARENT_SCOPE)
  set(CMAKE_C_COMPILER_LAUNCHER "${launcher}" PARENT_SCOPE)
  message(STATUS "Compiler cache: ccache, cache in ${dir}")
endfunction()

freeplot_use_compiler_cache()
