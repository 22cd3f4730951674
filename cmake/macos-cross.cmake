# Cross build for macOS from Linux, as scripts/check-macos sets it up: KESTRUM_MACOS_ROOT is a
# per-architecture folder outside the tree holding bin/{cc,c++,ar,ranlib} (zig's clang, aimed
# at one architecture and the deployment target) and deps/ (GoogleTest and the header-only
# libraries, built or copied for that target). Nothing from Linux is searched.
set(CMAKE_SYSTEM_NAME Darwin)

if(NOT KESTRUM_MACOS_ROOT)
  set(KESTRUM_MACOS_ROOT "$ENV{KESTRUM_MACOS_ROOT}")
endif()
if(NOT EXISTS "${KESTRUM_MACOS_ROOT}/bin/c++")
  message(FATAL_ERROR "macos-cross: KESTRUM_MACOS_ROOT must name a folder made by scripts/check-macos")
endif()
# The compiler probes run in their own projects; they need the folder too.
set(ENV{KESTRUM_MACOS_ROOT} "${KESTRUM_MACOS_ROOT}")
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES KESTRUM_MACOS_ROOT)

set(CMAKE_C_COMPILER "${KESTRUM_MACOS_ROOT}/bin/cc")
set(CMAKE_CXX_COMPILER "${KESTRUM_MACOS_ROOT}/bin/c++")
set(CMAKE_AR "${KESTRUM_MACOS_ROOT}/bin/ar" CACHE FILEPATH "")
set(CMAKE_RANLIB "${KESTRUM_MACOS_ROOT}/bin/ranlib" CACHE FILEPATH "")

# The wrappers pass the target; without Xcode there is no SDK for CMake to name.
set(CMAKE_OSX_SYSROOT "" CACHE PATH "")
set(CMAKE_OSX_ARCHITECTURES "" CACHE STRING "")
set(CMAKE_OSX_DEPLOYMENT_TARGET "" CACHE STRING "")

set(CMAKE_FIND_ROOT_PATH "${KESTRUM_MACOS_ROOT}/deps")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# A Mach-O test program cannot run here to list its tests; ctest would ask it on a Mac.
set(CMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE PRE_TEST)
