# SPDX-License-Identifier: GPL-3.0-or-later
# The header-only libraries from Debian as mox::cli11, mox::nlohmann_json,
# mox::tomlplusplus and mox::asio.
# A cross-compile cannot put the host's /usr/include on its include path
# (the C library's headers there are the host's), so it gets a folder of
# its own with links to just these libraries' headers.
# HEADERS_ONLY: the package's CMake target would link a shared library of
# its own, which the programs must not need at run time (nor the Windows
# build have): only its headers are taken, with DEFINITIONS that make them
# self-contained.
function(mox_header_only alias package target header_dir)
  cmake_parse_arguments(PARSE_ARGV 4 arg "HEADERS_ONLY" "" "DEFINITIONS")
  add_library(${alias}_headers INTERFACE)
  add_library(mox::${alias} ALIAS ${alias}_headers)
  target_compile_definitions(${alias}_headers INTERFACE ${arg_DEFINITIONS})
  if(CMAKE_CROSSCOMPILING)
    set(dir ${CMAKE_BINARY_DIR}/host-headers/${alias})
    file(MAKE_DIRECTORY ${dir})
    file(CREATE_LINK /usr/include/${header_dir} ${dir}/${header_dir} SYMBOLIC)
    if(NOT EXISTS ${dir}/${header_dir})
      message(FATAL_ERROR "${header_dir} headers not found in /usr/include (${package})")
    endif()
    target_include_directories(${alias}_headers SYSTEM INTERFACE ${dir})
  elseif(arg_HEADERS_ONLY)
    find_package(${package} REQUIRED)
    # Not the compiler's own folder (/usr/include): named again as a system
    # folder it would come before the C++ library's wrappers of the C headers.
    get_target_property(dirs ${target} INTERFACE_INCLUDE_DIRECTORIES)
    list(REMOVE_ITEM dirs ${CMAKE_CXX_IMPLICIT_INCLUDE_DIRECTORIES})
    target_include_directories(${alias}_headers SYSTEM INTERFACE ${dirs})
  else()
    find_package(${package} REQUIRED)
    target_link_libraries(${alias}_headers INTERFACE ${target})
  endif()
endfunction()

mox_header_only(cli11 CLI11 CLI11::CLI11 CLI)
mox_header_only(nlohmann_json nlohmann_json nlohmann_json::nlohmann_json nlohmann)
# toml++ (Debian libtomlplusplus-dev) for the setup file: parse errors as
# results rather than exceptions, so each is turned into the setup's own.
mox_header_only(tomlplusplus tomlplusplus tomlplusplus::tomlplusplus toml++ HEADERS_ONLY
                DEFINITIONS TOML_HEADER_ONLY=1 TOML_EXCEPTIONS=0)

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
