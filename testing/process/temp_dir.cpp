#include "testing/process/temp_dir.hpp"

#include <stdlib.h>
#include <unistd.h>  // mkdtemp on macOS

#include <stdexcept>
#include <string>

namespace kestrum::testkit {

namespace fs = std::filesystem;

TempDir::TempDir() {
  std::string tmpl = "/tmp/kestrum-test-XXXXXX";
  if (::mkdtemp(tmpl.data()) == nullptr) throw std::runtime_error("mkdtemp");
  path_ = tmpl;
}

TempDir::~TempDir() {
  std::error_code ec;
  // Undo permission changes a test may have made before removing.
  for (auto it = fs::recursive_directory_iterator(path_, ec); !ec && it != fs::end(it);
       it.increment(ec)) {
    if (it->is_directory(ec))
      fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
  }
  fs::remove_all(path_, ec);
}

}  // namespace kestrum::testkit
