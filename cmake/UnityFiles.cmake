# Compiles a target's sources several to a unit (a unity build; six unless a count is given):
# headers are parsed, and templates instantiated and compiled, once per unit instead of once per
# file. CMake's own UNITY_BUILD names each source in its unit files by absolute path, so a fresh
# clone elsewhere would miss the compiler cache on every unit; these units name their sources from
# the project root (on the include path), and read the same in every clone. A file's helpers
# therefore sit in its own anonymous namespace under names no other file of its target uses.
function(freeplot_unity_sources target)
  set(_per_unit 6)
  if(ARGC GREATER 1)
    set(_per_unit ${ARGV1})
  endif()
  get_target_property(_all ${target} SOURCES)
  get_target_property(_source_dir ${target} SOURCE_DIR)
  # Only the project's own C++ sources join units; others (C, third-party) and a source with
  # compile options of its own compile as they are.
  set(_sources "")
  set(_units "")
  foreach(_source IN LISTS _all)
    get_filename_component(_path ${_source} ABSOLUTE BASE_DIR ${_source_dir})
    file(RELATIVE_PATH _relative ${PROJECT_SOURCE_DIR} ${_path})
    get_source_file_property(_own_options ${_path} COMPILE_OPTIONS)
    if(_path MATCHES "\\.cpp$" AND NOT _relative MATCHES "^\\.\\." AND NOT _own_options)
      list(APPEND _sources ${_relative})
    else()
      list(APPEND _units ${_path})
    endif()
  endforeach()
  set(_text "")
  set(_count 0)
  list(LENGTH _sources _left)
  foreach(_relative IN LISTS _sources)
    string(APPEND _text "#include \"${_relative}\"\n")
    math(EXPR _count "${_count} + 1")
    math(EXPR _left "${_left} - 1")
    if(_count EQUAL _per_unit OR _left EQUAL 0)
      list(LENGTH _units _index)
      set(_unit ${CMAKE_CURRENT_BINARY_DIR}/${target}_unit_${_index}.cpp)
      # Written only when its text changes, so a new configure compiles nothing again.
      file(CONFIGURE OUTPUT ${_unit} CONTENT "${_text}" @ONLY)
      list(APPEND _units ${_unit})
      set(_text "")
      set(_count 0)
    endif()
  endforeach()
  set_property(TARGET ${target} PROPERTY SOURCES ${_units})
  target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR})
  # GCC takes a source included by a unit for a header, and warns of a type there with a member
  # of a type of the source's own anonymous namespace; in a source that is as it should be.
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    target_compile_options(${target} PRIVATE -Wno-subobject-linkage)
  endif()
endfunction()
