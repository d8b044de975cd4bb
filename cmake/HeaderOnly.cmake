# SPDX-License-Identifier: GPL-3.0-or-later
# The header-only libraries from Debian as mox::cli11 and mox::nlohmann_json.
# A cross-compile cannot put the host's /usr/include on its include path
# (the C library's headers there are the host's), so it gets a folder of
# its own with links to just these libraries' headers.
function(mox_header_only alias package target header_dir)
  add_library(${alias}_headers INTERFACE)
  add_library(mox::${alias} ALIAS ${alias}_headers)
  if(CMAKE_CROSSCOMPILING)
    set(dir ${CMAKE_BINARY_DIR}/host-headers/${alias})
    file(MAKE_DIRECTORY ${dir})
    file(CREATE_LINK /usr/include/${header_dir} ${dir}/${header_dir} SYMBOLIC)
    if(NOT EXISTS ${dir}/${header_dir})
      message(FATAL_ERROR "${header_dir} headers not found in /usr/include (${package})")
    endif()
    target_include_directories(${alias}_headers SYSTEM INTERFACE ${dir})
  else()
    find_package(${package} REQUIRED)
    target_link_libraries(${alias}_headers INTERFACE ${target})
  endif()
endfunction()

mox_header_only(cli11 CLI11 CLI11::CLI11 CLI)
mox_header_only(nlohmann_json nlohmann_json nlohmann_json::nlohmann_json nlohmann)
