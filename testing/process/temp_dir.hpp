// A scratch directory for one test.
#pragma once

#include <filesystem>

namespace kestrum::testkit {

// A temporary directory removed with everything in it at the end of the scope. Its path is
// the real one, links resolved, under /tmp or $KESTRUM_TEST_TMP.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

}  // namespace kestrum::testkit
