#include <fcntl.h>
#include <unistd.h>

#include <fstream>
#include <stdexcept>
#include <string>

#include "testing/process/process.hpp"

namespace kestrum::testkit {

TestPipe make_test_pipe() {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
  return {UniqueFd(fds[0]), UniqueFd(fds[1])};
}

}  // namespace kestrum::testkit

namespace kestrum::testkit {

bool process_gone(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(stat, line)) return true;
  const auto close = line.rfind(')');
  return close != std::string::npos && close + 2 < line.size() && line[close + 2] == 'Z';
}

}  // namespace kestrum::testkit
