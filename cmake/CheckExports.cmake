# Checks that the plugin's Windows objects export exactly F4SEPlugin_Query and
# F4SEPlugin_Load, undecorated: the export directives the compiler leaves in each object's
# .drectve section are collected and compared with that set, and the two symbols must be
# defined under their plain C names.
# Arguments: -DOBJDUMP=... -DNM=... -DOBJECTS=a.obj;b.a;...

set(exports "")
set(defined "")
foreach(object IN LISTS OBJECTS)
  execute_process(COMMAND ${OBJDUMP} -s -j .drectve ${object}
                  OUTPUT_VARIABLE dump ERROR_QUIET)
  # The section dump shows the directive text in its right-hand column; join those columns.
  string(REGEX MATCHALL "  [^\n]*\n" rows "${dump}")
  set(text "")
  foreach(row IN LISTS rows)
    string(LENGTH "${row}" len)
    if(len GREATER 43)
      string(SUBSTRING "${row}" 43 -1 ascii)
      string(STRIP "${ascii}" ascii)
      string(APPEND text "${ascii}")
    endif()
  endforeach()
  string(REGEX MATCHALL "-export:\"?[A-Za-z0-9_@?$,=]+" found "${text}")
  foreach(directive IN LISTS found)
    string(REGEX REPLACE "^-export:\"?" "" name "${directive}")
    list(APPEND exports "${name}")
  endforeach()
  execute_process(COMMAND ${NM} -g --defined-only ${object} OUTPUT_VARIABLE symbols ERROR_QUIET)
  string(REGEX MATCHALL " T F4SEPlugin_[A-Za-z]+\n" entries "${symbols}")
  foreach(entry IN LISTS entries)
    string(REGEX REPLACE " T ([A-Za-z_]+)\n" "\\1" name "${entry}")
    list(APPEND defined "${name}")
  endforeach()
endforeach()
list(SORT exports)
list(SORT defined)
set(expected "F4SEPlugin_Load;F4SEPlugin_Query")
if(NOT exports STREQUAL expected)
  message(FATAL_ERROR "Windows objects export [${exports}], expected exactly [${expected}]")
endif()
if(NOT defined STREQUAL expected)
  message(FATAL_ERROR "Undecorated entry points defined: [${defined}], expected [${expected}]")
endif()
message(STATUS "Exports checked: ${exports}")
