# SPDX-License-Identifier: GPL-3.0-or-later
# The header-only libraries from Debian as mox::cli11, mox::nlohmann_json and
# mox::asio.
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

# Standalone Asio (Debian libasio-dev) for the card link's sockets: no CMake
# package of its own, so the header is looked for; on Windows it needs the
# Winsock libraries and Windows 7's API level.
add_library(asio_headers INTERFACE)
add_library(mox::asio ALIAS asio_headers)
target_compile_definitions(asio_headers INTERFACE ASIO_STANDALONE ASIO_NO_DEPRECATED)
if(CMAKE_CROSSCOMPILING)
  set(dir ${CMAKE_BINARY_DIR}/host-headers/asio)
  file(MAKE_DIRECTORY ${dir})
  file(CREATE_LINK /usr/include/asio ${dir}/asio SYMBOLIC)
  file(CREATE_LINK /usr/include/asio.hpp ${dir}/asio.hpp SYMBOLIC)
  if(NOT EXISTS ${dir}/asio/version.hpp)
    message(FATAL_ERROR "asio headers not found in /usr/include (libasio-dev)")
  endif()
  target_include_directories(asio_headers SYSTEM INTERFACE ${dir})
else()
  find_path(MOX_ASIO_INCLUDE_DIR asio/version.hpp REQUIRED)
  target_include_directories(asio_headers SYSTEM INTERFACE ${MOX_ASIO_INCLUDE_DIR})
endif()
if(WIN32)
  target_compile_definitions(asio_headers INTERFACE _WIN32_WINNT=0x0601 WIN32_LEAN_AND_MEAN)
  target_link_libraries(asio_headers INTERFACE ws2_32 mswsock)
endif()
