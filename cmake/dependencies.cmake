# Everything comes from the system's packages (scripts/bootstrap installs them).

# Homebrew lives in /opt/homebrew on Apple silicon and in /usr/local on Intel Macs. What
# CMake searches there by itself depends on its version and on the architecture it runs as
# (3.25 adds /opt/homebrew only when it runs as arm64): naming both, the running Homebrew's
# first, makes every lookup below see them. A cross build for macOS has a root of its own.
if(CMAKE_HOST_APPLE AND NOT CMAKE_CROSSCOMPILING)
  foreach(prefix IN ITEMS "$ENV{HOMEBREW_PREFIX}" /opt/homebrew /usr/local)
    if(prefix AND IS_DIRECTORY "${prefix}")
      list(APPEND CMAKE_PREFIX_PATH "${prefix}")
    endif()
  endforeach()
  list(REMOVE_DUPLICATES CMAKE_PREFIX_PATH)
endif()

find_package(nlohmann_json 3.10 REQUIRED)
# Header-only; it reads JSON into nlohmann's values several times faster than their own parser.
find_path(RAPIDJSON_INCLUDE_DIR rapidjson/reader.h REQUIRED)
find_package(Threads REQUIRED)

# libsodium gives SHA-256 on Linux only; macOS has it in libSystem.
if(NOT APPLE)
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(SODIUM REQUIRED IMPORTED_TARGET libsodium)
  add_library(kestrum_sodium INTERFACE)
  if(KESTRUM_STATIC_RUNTIME)
    # The hook starts on every tool call: a static libsodium saves the dynamic
    # loader's work at each start.
    find_library(SODIUM_STATIC_LIB NAMES libsodium.a HINTS ${SODIUM_LIBRARY_DIRS} REQUIRED)
    target_include_directories(kestrum_sodium INTERFACE ${SODIUM_INCLUDE_DIRS})
    target_link_libraries(kestrum_sodium INTERFACE ${SODIUM_STATIC_LIB})
  else()
    target_link_libraries(kestrum_sodium INTERFACE PkgConfig::SODIUM)
  endif()
endif()

if(KESTRUM_BUILD_TESTS)
  find_package(GTest REQUIRED)
  include(GoogleTest)
endif()
