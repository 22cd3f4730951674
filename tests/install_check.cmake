# Installs the build into a scratch prefix and checks every name a user types is there:
# the launcher's messages and the README call it kestrum.
file(REMOVE_RECURSE "${PREFIX}")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${PREFIX}"
                RESULT_VARIABLE status OUTPUT_QUIET)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "cmake --install failed: ${status}")
endif()
foreach(name kestrum-hook kestrum-cli kestrum)
  if(NOT EXISTS "${PREFIX}/bin/${name}")
    message(FATAL_ERROR "bin/${name} was not installed")
  endif()
endforeach()
file(READ_SYMLINK "${PREFIX}/bin/kestrum" target)
if(NOT target STREQUAL "kestrum-cli")
  message(FATAL_ERROR "bin/kestrum points at '${target}', not kestrum-cli")
endif()
file(REMOVE_RECURSE "${PREFIX}")
