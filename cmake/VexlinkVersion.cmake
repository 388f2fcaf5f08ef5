# Writes <dir>/vexlink_version.h with the version texts the program prints:
# the program version in its own two-digit form ("VERSION=07.04.00" for
# 7.4.0) and the conversation library version. The numbers themselves are
# set once, in project(VERSION) and WIRECOMM_VERSION of the top-level
# CMakeLists.txt; a project that includes this file without them (the fuzz
# build) reads them from there.
function(vexlink_read_versions root)
  file(STRINGS "${root}/CMakeLists.txt" lines REGEX "^(project\\(vexlink VERSION|set\\(WIRECOMM_VERSION)")
  foreach(line IN LISTS lines)
    if(line MATCHES "project\\(vexlink VERSION ([0-9.]+)")
      set(PROJECT_VERSION ${CMAKE_MATCH_1} PARENT_SCOPE)
    elseif(line MATCHES "WIRECOMM_VERSION ([0-9.]+)")
      set(WIRECOMM_VERSION ${CMAKE_MATCH_1} PARENT_SCOPE)
    endif()
  endforeach()
endfunction()

function(vexlink_version_header dir version wirecomm_version)
  string(REPLACE "." ";" parts "${version}")
  set(text "")
  foreach(p IN LISTS parts)
    if(p LESS 10)
      set(p "0${p}")
    endif()
    if(text STREQUAL "")
      set(text "${p}")
    else()
      set(text "${text}.${p}")
    endif()
  endforeach()
  set(VEXLINK_VERSION_TEXT "VERSION=${text}")
  set(VEXLINK_WIRECOMM_VERSION "${wirecomm_version}")
  configure_file("${CMAKE_CURRENT_FUNCTION_LIST_DIR}/vexlink_version.h.in" "${dir}/vexlink_version.h" @ONLY)
endfunction()
