# Compile options shared by every target of ours.
add_library(kestrum_options INTERFACE)
target_compile_options(kestrum_options INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wsign-conversion
  -Wnon-virtual-dtor -Wold-style-cast -Woverloaded-virtual -Wnull-dereference
  -Wimplicit-fallthrough)
if(KESTRUM_WERROR)
  target_compile_options(kestrum_options INTERFACE -Werror)
endif()
if(KESTRUM_SANITIZE)
  target_compile_options(kestrum_options INTERFACE
    -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all)
  target_link_options(kestrum_options INTERFACE -fsanitize=address,undefined)
endif()
if(KESTRUM_FUZZ)
  # Every library is instrumented for coverage; only the fuzz targets link libFuzzer's main.
  target_compile_options(kestrum_options INTERFACE
    -fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all)
  target_link_options(kestrum_options INTERFACE -fsanitize=address,undefined)
endif()
# clang's UndefinedBehaviorSanitizer also flags a benign check inside the JSON reader's
# library; the list says which and why.
if((KESTRUM_SANITIZE OR KESTRUM_FUZZ) AND CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  target_compile_options(kestrum_options INTERFACE
    -fsanitize-ignorelist=${PROJECT_SOURCE_DIR}/cmake/ubsan-ignorelist.txt)
endif()
if(KESTRUM_TSAN)
  target_compile_options(kestrum_options INTERFACE -fsanitize=thread -fno-omit-frame-pointer)
  target_link_options(kestrum_options INTERFACE -fsanitize=thread)
endif()
# Code and tests ask this, not the compiler: Apple clang and clang 19 define no
# __SANITIZE_ADDRESS__ or __SANITIZE_THREAD__, and the fuzz instrumentation counts too.
if(KESTRUM_SANITIZE OR KESTRUM_FUZZ OR KESTRUM_TSAN)
  target_compile_definitions(kestrum_options INTERFACE KESTRUM_SANITIZED)
endif()

# Programs as a user installs them. On Linux they are fully static: the hook starts on
# every tool call, and the dynamic loader was most of its start-up. glibc warns at link
# time about the calls that need its shared NSS modules even in a static program
# (getpwnam, getaddrinfo and the like); the warnings are fatal, so such a call fails the
# build instead of a user's lookup. macOS cannot link statically and keeps libSystem.
function(kestrum_program target)
  target_link_libraries(${target} PRIVATE kestrum_options)
  if(KESTRUM_STATIC_RUNTIME AND CMAKE_SYSTEM_NAME STREQUAL "Linux")
    target_link_options(${target} PRIVATE -static -Wl,--fatal-warnings -Wl,--gc-sections)
  endif()
  # Apple's linker signs arm64 programs ad hoc by itself but x86_64 ones only when asked, and
  # a universal program passes `codesign -v` only with both halves signed. The cross build's
  # linker (zig's) signs as it does and knows no such flag.
  if(APPLE AND NOT CMAKE_CROSSCOMPILING)
    target_link_options(${target} PRIVATE -Wl,-adhoc_codesign)
  endif()
endfunction()

# Code that no program runs is left out of the static programs.
if(KESTRUM_STATIC_RUNTIME AND CMAKE_SYSTEM_NAME STREQUAL "Linux")
  target_compile_options(kestrum_options INTERFACE -ffunction-sections -fdata-sections)
endif()

# A unit or process test: a GoogleTest program registered with CTest.
function(kestrum_test target)
  add_executable(${target} ${ARGN})
  target_link_libraries(${target} PRIVATE kestrum_options GTest::gtest_main GTest::gmock)
  gtest_discover_tests(${target} DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 300)
endfunction()

# The guard above rests on glibc's link-time warnings: make sure this toolchain gives them.
if(KESTRUM_STATIC_RUNTIME AND CMAKE_SYSTEM_NAME STREQUAL "Linux")
  include(CheckCSourceCompiles)
  set(CMAKE_REQUIRED_LINK_OPTIONS -static -Wl,--fatal-warnings)
  check_c_source_compiles("#include <pwd.h>\nint main(void) { return getpwnam(\"x\") != 0; }"
    KESTRUM_NSS_CALL_LINKS_STATICALLY)
  unset(CMAKE_REQUIRED_LINK_OPTIONS)
  if(KESTRUM_NSS_CALL_LINKS_STATICALLY)
    message(FATAL_ERROR "A static link does not refuse NSS calls here; the programs would "
                        "link calls that fail at run time.")
  endif()
endif()
