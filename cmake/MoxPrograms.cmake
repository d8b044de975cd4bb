# SPDX-License-Identifier: GPL-3.0-or-later
# How the project's programs are built, written once.

# Sets a target's RUNPATH: `build` in the build tree, `install` once
# installed, as one RUNPATH that holds both (the other's folder does not
# exist where one is). CMake would otherwise rewrite the RUNPATH in place at
# installation, and for that ends the build's RUNPATH with empty elements,
# which the loader reads as the current folder: a program of the build tree
# would take a libadcard.so from wherever it is started.
function(mox_runpath target build install)
  set_target_properties(${target} PROPERTIES BUILD_WITH_INSTALL_RPATH ON INSTALL_RPATH "${install}:${build}")
endfunction()

# A program that loads the card driver library at run time. On Linux it
# finds the bundled virtual card through its RUNPATH (build: ../lib,
# installed: the private folder), which LD_LIBRARY_PATH still overrides;
# the library is built alongside so that the program runs at once. On
# Windows the program is linked statically and finds adcard.dll beside it.
function(mox_driver_program target)
  mox_standalone_program(${target})
  if(WIN32)
    return()
  endif()
  file(RELATIVE_PATH bin_to_private /${CMAKE_INSTALL_BINDIR} /${MOX_PRIVATE_LIBDIR})
  mox_runpath(${target} "$ORIGIN/../lib" "$ORIGIN/${bin_to_private}")
  target_link_options(${target} PRIVATE "LINKER:--enable-new-dtags")
  add_dependencies(${target} card_driver)
endfunction()

# A program that needs no library of ours at run time: on Windows it
# carries its C and C++ runtime, so that it runs from any folder.
function(mox_standalone_program target)
  mox_target_defaults(${target})
  if(WIN32)
    target_link_options(${target} PRIVATE -static)
  endif()
endfunction()

# A fuzz target: libFuzzer's entry under the fuzz preset; otherwise a
# program that replays the inputs it is given (fuzz_standalone.h), so that
# the tests can run the corpus.
function(mox_fuzz_target target source)
  add_executable(${target} ${source})
  mox_target_defaults(${target})
  target_link_libraries(${target} PRIVATE ${ARGN})
  if(MOX_FUZZ)
    target_compile_options(${target} PRIVATE -fsanitize=fuzzer)
    target_link_options(${target} PRIVATE -fsanitize=fuzzer)
  else()
    target_compile_definitions(${target} PRIVATE MOX_FUZZ_STANDALONE)
  endif()
endfunction()
