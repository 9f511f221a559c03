# tempikon_e2e_cases(<var> <script>): the cases of an end-to-end script, as
# the script declares them: one function "def case_<name>(" each. CMake runs
# again when the script changes, so a new case becomes a test by itself.
function(tempikon_e2e_cases var script)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${script})
  file(STRINGS ${script} lines REGEX "^def case_[a-z0-9_]+\\(")
  set(cases)
  foreach(line ${lines})
    string(REGEX REPLACE "^def case_([a-z0-9_]+)\\(.*" "\\1" name "${line}")
    list(APPEND cases ${name})
  endforeach()
  if(NOT cases)
    message(FATAL_ERROR "${script} declares no case")
  endif()
  set(${var} ${cases} PARENT_SCOPE)
endfunction()
