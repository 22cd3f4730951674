#include "testing/process/temp_dir.hpp"

#include <stdlib.h>
#include <unistd.h>  // mkdtemp on macOS

#include <cstdlib>
#include <stdexcept>
#include <string>
#include <system_error>

namespace kestrum::testkit {

namespace fs = std::filesystem;

namespace {

// Short, whatever $TMPDIR says, so that sockets below fit a local socket address.
// KESTRUM_TEST_TMP moves it, e.g. behind a link as a Mac's /tmp is.
std::string temp_root() {
  const char* root = std::getenv("KESTRUM_TEST_TMP");
  return root != nullptr && *root != '\0' ? root : "/tmp";
}

}  // namespace

TempDir::TempDir() {
  std::string tmpl = temp_root() + "/kestrum-test-XXXXXX";
  if (::mkdtemp(tmpl.data()) == nullptr) throw std::runtime_error("mkdtemp " + tmpl);
  // The real path, as getcwd() and realpath() give it for anything below.
  std::error_code ec;
  path_ = fs::canonical(tmpl, ec);
  if (ec) {
    fs::remove(tmpl, ec);
    throw std::runtime_error("realpath " + tmpl);
  }
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
