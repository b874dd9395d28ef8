# TavoParts.cmake - the optional parts of the build, their options and the
# summary printed at the end of configure; the warning flags of every target.
#
# Each part has one option TAVO_BUILD_<PART>, AUTO, ON or OFF:
#   AUTO  builds the part when everything it needs is found (the default);
#   ON    builds it or fails configure, naming the Debian packages missing;
#   OFF   leaves it out.
# A part's folder calls tavo_part_wanted() first, then either
# tavo_part_missing() (which returns from the folder under AUTO) or
# tavo_part_built().

set(TAVO_PARTS "" CACHE INTERNAL "")

# tavo_part(<PART> <default> <description>): declares TAVO_BUILD_<PART>.
function(tavo_part part default description)
  set(TAVO_BUILD_${part} ${default} CACHE STRING "${description} (AUTO, ON or OFF)")
  set_property(CACHE TAVO_BUILD_${part} PROPERTY STRINGS AUTO ON OFF)
  string(TOUPPER "${TAVO_BUILD_${part}}" value)
  if(value STREQUAL "TRUE" OR value STREQUAL "YES" OR value STREQUAL "1")
    set(value ON)
  elseif(value STREQUAL "FALSE" OR value STREQUAL "NO" OR value STREQUAL "0")
    set(value OFF)
  endif()
  if(NOT value MATCHES "^(AUTO|ON|OFF)$")
    message(FATAL_ERROR "TAVO_BUILD_${part} is '${TAVO_BUILD_${part}}': AUTO, ON or OFF")
  endif()
  set(TAVO_PART_MODE_${part} ${value} CACHE INTERNAL "")
  set(TAVO_PART_DESCRIPTION_${part} "${description}" CACHE INTERNAL "")
  set(TAVO_PART_STATE_${part} "" CACHE INTERNAL "")
  set(parts ${TAVO_PARTS})
  list(REMOVE_ITEM parts ${part})
  list(APPEND parts ${part})
  set(TAVO_PARTS ${parts} CACHE INTERNAL "")
endfunction()

# tavo_part_wanted(<PART> <var>): <var> is TRUE unless the part is OFF.
function(tavo_part_wanted part var)
  if(TAVO_PART_MODE_${part} STREQUAL "OFF")
    set(TAVO_PART_STATE_${part} "off (TAVO_BUILD_${part}=OFF)" CACHE INTERNAL "")
    set(${var} FALSE PARENT_SCOPE)
  else()
    set(${var} TRUE PARENT_SCOPE)
  endif()
endfunction()

# tavo_part_missing(<PART> <what> <debian packages>): what the part needs is
# not there. Fails configure when the part is ON; otherwise records why the
# part is not built. The caller returns.
function(tavo_part_missing part what packages)
  if(TAVO_PART_MODE_${part} STREQUAL "ON")
    if(packages)
      message(FATAL_ERROR "TAVO_BUILD_${part}=ON, but ${what} not found: install the Debian "
                          "package(s) ${packages}, or configure with -DTAVO_BUILD_${part}=AUTO")
    else()
      message(FATAL_ERROR "TAVO_BUILD_${part}=ON, but ${what}")
    endif()
  endif()
  if(packages)
    set(TAVO_PART_STATE_${part} "not built: ${what} not found (Debian: ${packages})"
        CACHE INTERNAL "")
  else()
    set(TAVO_PART_STATE_${part} "not built: ${what}" CACHE INTERNAL "")
  endif()
endfunction()

function(tavo_part_built part)
  set(TAVO_PART_STATE_${part} "built" CACHE INTERNAL "")
endfunction()

function(tavo_parts_summary)
  message(STATUS "")
  message(STATUS "Tavo ${PROJECT_VERSION}, ${CMAKE_BUILD_TYPE} build; library tavocore, and:")
  foreach(part ${TAVO_PARTS})
    set(state "${TAVO_PART_STATE_${part}}")
    if(state STREQUAL "")
      set(state "not built")
    endif()
    string(LENGTH "${part}" length)
    math(EXPR pad "10 - ${length}")
    string(REPEAT " " ${pad} spaces)
    message(STATUS "  ${part}${spaces}${TAVO_PART_DESCRIPTION_${part}}: ${state}")
  endforeach()
  message(STATUS "")
endfunction()

# tavo_warnings(<target>...): the warning flags of the project's own code.
function(tavo_warnings)
  foreach(target ${ARGN})
    target_compile_options(${target} PRIVATE
      $<$<CXX_COMPILER_ID:GNU,Clang>:-Wall -Wextra -Wshadow -Wconversion -Wno-sign-conversion>)
  endforeach()
endfunction()
