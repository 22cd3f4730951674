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
if(KESTRUM_TSAN)
  target_compile_options(kestrum_options INTERFACE -fsanitize=thread -fno-omit-frame-pointer)
  target_link_options(kestrum_options INTERFACE -fsanitize=thread)
endif()

# Programs as a user installs them: no libstdc++ to load at start.
function(kestrum_program target)
  target_link_libraries(${target} PRIVATE kestrum_options)
  if(KESTRUM_STATIC_RUNTIME AND CMAKE_SYSTEM_NAME STREQUAL "Linux")
    target_link_options(${target} PRIVATE -static-libstdc++ -static-libgcc)
  endif()
endfunction()

# A unit or process test: a GoogleTest program registered with CTest.
function(kestrum_test target)
  add_executable(${target} ${ARGN})
  target_link_libraries(${target} PRIVATE kestrum_options GTest::gtest_main GTest::gmock)
  gtest_discover_tests(${target} DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 300)
endfunction()
