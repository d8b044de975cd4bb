# SPDX-License-Identifier: GPL-3.0-or-later
# Compiler and linker flags of the project's own targets, as interface
# targets linked by mox_target_defaults() rather than global options, so
# that third-party code and the toolchain's checks build with their own.

option(MOX_WERROR "Treat compiler warnings as errors" ON)
option(MOX_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
option(MOX_FUZZ "Instrument the code for libFuzzer (clang only)" OFF)
option(MOX_TSAN "Build with ThreadSanitizer" OFF)

add_library(mox_warnings INTERFACE)
add_library(mox::warnings ALIAS mox_warnings)
target_compile_options(mox_warnings INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wno-sign-conversion
  $<$<BOOL:${MOX_WERROR}>:-Werror>)

# Sanitizers and fuzzing instrumentation: everything of ours in one build
# carries the same, so that a shared library and its caller agree.
add_library(mox_instrumentation INTERFACE)
add_library(mox::instrumentation ALIAS mox_instrumentation)
if(MOX_SANITIZE)
  target_compile_options(mox_instrumentation INTERFACE
    -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  target_link_options(mox_instrumentation INTERFACE -fsanitize=address,undefined)
endif()
if(MOX_TSAN)
  target_compile_options(mox_instrumentation INTERFACE -fsanitize=thread -fno-omit-frame-pointer)
  target_link_options(mox_instrumentation INTERFACE -fsanitize=thread)
endif()
if(MOX_FUZZ)
  target_compile_options(mox_instrumentation INTERFACE -fsanitize=fuzzer-no-link)
endif()

# Hardening of optimised Linux builds, as Debian builds its packages:
# checked string and memory functions, a stack protector, and relocations
# resolved and made read-only at start.
add_library(mox_hardening INTERFACE)
add_library(mox::hardening ALIAS mox_hardening)
if(NOT WIN32 AND NOT MOX_SANITIZE AND NOT MOX_TSAN)
  set(optimised "$<NOT:$<CONFIG:Debug>>")
  target_compile_definitions(mox_hardening INTERFACE $<${optimised}:_FORTIFY_SOURCE=2>)
  target_compile_options(mox_hardening INTERFACE $<${optimised}:-fstack-protector-strong>)
  target_link_options(mox_hardening INTERFACE $<${optimised}:LINKER:-z,relro,-z,now>)
endif()

# The flags of the project's own code for one target.
function(mox_target_defaults target)
  target_link_libraries(${target} PRIVATE mox::warnings mox::instrumentation mox::hardening)
endfunction()
