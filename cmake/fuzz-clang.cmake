# The fuzz preset's compiler: clang 19, whose libFuzzer the targets link. Debian names it
# clang++-19; on a Mac it is Homebrew's llvm@19, which is keg-only (nothing on PATH), found
# under either Homebrew prefix. Apple's clang has no libFuzzer.
if(CMAKE_HOST_APPLE)
  set(kestrum_llvm_bins "$ENV{HOMEBREW_PREFIX}/opt/llvm@19/bin" /opt/homebrew/opt/llvm@19/bin
                        /usr/local/opt/llvm@19/bin)
  find_program(KESTRUM_FUZZ_CXX clang++ PATHS ${kestrum_llvm_bins} NO_DEFAULT_PATH REQUIRED)
  find_program(KESTRUM_FUZZ_CC clang PATHS ${kestrum_llvm_bins} NO_DEFAULT_PATH REQUIRED)
  # Its own libc++, whose headers it compiles with, rather than the system's older one.
  cmake_path(GET KESTRUM_FUZZ_CXX PARENT_PATH kestrum_llvm_bin)
  cmake_path(GET kestrum_llvm_bin PARENT_PATH kestrum_llvm)
  if(IS_DIRECTORY "${kestrum_llvm}/lib/c++")
    set(CMAKE_EXE_LINKER_FLAGS_INIT "-L${kestrum_llvm}/lib/c++ -Wl,-rpath,${kestrum_llvm}/lib/c++")
  endif()
else()
  find_program(KESTRUM_FUZZ_CXX clang++-19 REQUIRED)
  find_program(KESTRUM_FUZZ_CC clang-19 REQUIRED)
endif()
set(CMAKE_CXX_COMPILER "${KESTRUM_FUZZ_CXX}")
set(CMAKE_C_COMPILER "${KESTRUM_FUZZ_CC}")
