# SPDX-License-Identifier: GPL-3.0-or-later
# Writes the module-definition file that makes a 32-bit Windows card driver
# export the decorated stdcall names (_Initial@16, ...) from the entry list
# in driver/adcard_entries.h. The compiler decorates each entry itself
# (Initial@16); a byte count computed wrongly here names a symbol that does
# not exist, and the link fails.
function(mox_adcard_def output)
  set(list_file ${PROJECT_SOURCE_DIR}/driver/adcard_entries.h)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${list_file})
  file(READ ${list_file} text)
  string(REPLACE "\\\n" " " text "${text}")
  string(REGEX MATCHALL "[ \t]X\\([A-Za-z_][A-Za-z_0-9]*, *\\([^)]*\\)" entries "${text}")
  set(lines "; Generated from driver/adcard_entries.h by cmake/AdcardDef.cmake.\nLIBRARY adcard.dll\nEXPORTS\n")
  foreach(entry IN LISTS entries)
    string(REGEX REPLACE "^[ \t]X\\(([A-Za-z_0-9]+), *\\(([^)]*)\\)$" "\\1;\\2" parts "${entry}")
    list(GET parts 0 name)
    list(GET parts 1 params)
    string(STRIP "${params}" params)
    if(params STREQUAL "void")
      set(count 0)
    else()
      string(REGEX REPLACE "[^,]" "" commas "${params}")
      string(LENGTH "${commas}" count)
      math(EXPR count "${count} + 1")
    endif()
    math(EXPR bytes "${count} * 4") # one 32-bit slot per argument
    string(APPEND lines "    _${name}@${bytes} = ${name}@${bytes}\n")
  endforeach()
  list(LENGTH entries found)
  if(found EQUAL 0)
    message(FATAL_ERROR "no entries found in ${list_file}")
  endif()
  file(CONFIGURE OUTPUT ${output} CONTENT "${lines}")
endfunction()
