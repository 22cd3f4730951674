# Everything comes from the system's packages (scripts/bootstrap installs them).
find_package(nlohmann_json 3.10 REQUIRED)
# Header-only; it reads JSON into nlohmann's values several times faster than their own parser.
find_path(RAPIDJSON_INCLUDE_DIR rapidjson/reader.h REQUIRED)
find_package(Threads REQUIRED)
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

if(KESTRUM_BUILD_TESTS)
  find_package(GTest REQUIRED)
  include(GoogleTest)
endif()
