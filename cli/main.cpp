// kestrum-cli: `kestrum claude ...` becomes Claude Code, registered with the app.
#include <unistd.h>

#include <string_view>

int main(int argc, char** argv) {
  if (argc == 2 && std::string_view(argv[1]) == "--version") {
    constexpr std::string_view kVersion = "kestrum-cli 0.1.0\n";
    return ::write(STDOUT_FILENO, kVersion.data(), kVersion.size()) < 0;
  }
  return 2;
}
