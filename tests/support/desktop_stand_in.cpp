// A stand-in for the desktop app process in launch-ownership tests. Installed under the file
// name "kestrum-desktop", it is the ancestor a hook looks for; it may also serve another
// instance's socket itself, so that the socket's peer is that very ancestor.
//
//   kestrum-desktop [--serve SOCKET (--answer JSON | --stall)] [--record FILE]
//                   [--pid-file FILE] -- PROGRAM [WORDS...]
//
// It listens on SOCKET (if given), starts PROGRAM with the standard descriptors it was given,
// answers "hello" and "launch_owned" (with JSON as the result) until PROGRAM ends, and exits
// with PROGRAM's status. Each line received is appended to FILE as it arrives. With --stall
// it reads and records but never answers.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

using Json = nlohmann::json;

struct Options {
  std::string socket;
  std::optional<Json> answer;  // nothing: stall
  std::string record;
  std::string pid_file;
  std::vector<char*> program;  // null-terminated
};

[[noreturn]] void fail(std::string_view what) {
  const std::string text = "kestrum-desktop stand-in: " + std::string(what) + "\n";
  [[maybe_unused]] const ssize_t n = ::write(STDERR_FILENO, text.data(), text.size());
  ::_exit(125);
}

Options parse_options(int argc, char** argv) {
  Options options;
  int i = 1;
  for (; i < argc && std::string_view(argv[i]) != "--"; ++i) {
    const std::string_view word = argv[i];
    if (word == "--stall") continue;
    if (i + 1 >= argc) fail("missing value");
    const char* value = argv[++i];
    if (word == "--serve") {
      options.socket = value;
    } else if (word == "--answer") {
      options.answer = Json::parse(value, nullptr, false);
      if (options.answer->is_discarded()) fail("--answer is not JSON");
    } else if (word == "--record") {
      options.record = value;
    } else if (word == "--pid-file") {
      options.pid_file = value;
    } else {
      fail("unknown option");
    }
  }
  for (++i; i < argc; ++i) options.program.push_back(argv[i]);
  if (options.program.empty()) fail("no program");
  options.program.push_back(nullptr);
  return options;
}

void write_all(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
}

void write_file(const std::string& path, std::string_view bytes, int mode_flag) {
  if (path.empty()) return;
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | mode_flag, 0600);
  if (fd < 0) fail("cannot write a file");
  [[maybe_unused]] const ssize_t n = ::write(fd, bytes.data(), bytes.size());
  ::close(fd);
}

int listen_on(const std::string& path) {
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  if (fd < 0 || path.size() >= sizeof addr.sun_path) fail("socket");
  std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
  ::unlink(path.c_str());
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0 ||
      ::listen(fd, 16) != 0) {
    fail("bind");
  }
  return fd;
}

struct Client {
  int fd;
  std::string pending;
};

void answer_line(const Options& options, int fd, std::string_view line) {
  write_file(options.record, std::string(line) + "\n", O_APPEND);
  if (!options.answer) return;
  const Json message = Json::parse(line, nullptr, false);
  if (!message.is_object() || !message.contains("id") || !message.contains("method")) return;
  Json reply = {{"id", message["id"]}, {"jsonrpc", "2.0"}};
  if (message["method"] == "hello") {
    reply["result"] = {{"protocol_version", 0}};
  } else if (message["method"] == "launch_owned") {
    reply["result"] = *options.answer;
  } else {
    reply["error"] = {{"code", -32601}, {"message", "unknown method"}};
  }
  write_all(fd, reply.dump() + "\n");
}

// False once the client has gone.
bool serve_client(const Options& options, Client& client) {
  char buf[4096];
  const ssize_t n = ::read(client.fd, buf, sizeof buf);
  if (n < 0 && errno == EINTR) return true;
  if (n <= 0) return false;
  client.pending.append(buf, static_cast<std::size_t>(n));
  for (std::size_t end; (end = client.pending.find('\n')) != std::string::npos;) {
    answer_line(options, client.fd, std::string_view(client.pending).substr(0, end));
    client.pending.erase(0, end + 1);
  }
  return true;
}

pid_t start(const Options& options) {
  const pid_t pid = ::fork();
  if (pid < 0) fail("fork");
  if (pid == 0) {
    ::execv(options.program[0], options.program.data());
    ::_exit(127);
  }
  return pid;
}

// Serves until the child has ended, then handles what it left unread once more.
int serve_until_exit(const Options& options, int listener, pid_t child) {
  std::vector<Client> clients;
  int status = 0;
  bool ended = false;
  for (bool last_round = false; !last_round;) {
    if (!ended && ::waitpid(child, &status, WNOHANG) == child) ended = true;
    last_round = ended;
    std::vector<pollfd> fds{{listener, POLLIN, 0}};
    for (const Client& c : clients) fds.push_back({c.fd, POLLIN, 0});
    ::poll(fds.data(), fds.size(), last_round ? 0 : 20);
    for (std::size_t i = clients.size(); i-- > 0;) {
      if (fds[i + 1].revents == 0 || serve_client(options, clients[i])) continue;
      ::close(clients[i].fd);
      clients.erase(clients.begin() + static_cast<std::ptrdiff_t>(i));
    }
    if (listener >= 0 && (fds[0].revents & POLLIN)) {
      const int fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd >= 0) clients.push_back({fd, {}});
    }
  }
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  ::signal(SIGPIPE, SIG_IGN);
  const Options options = parse_options(argc, argv);
  write_file(options.pid_file, std::to_string(::getpid()), O_TRUNC);
  const int listener = options.socket.empty() ? -1 : listen_on(options.socket);
  const pid_t child = start(options);
  const int status = serve_until_exit(options, listener, child);
  if (!options.socket.empty()) ::unlink(options.socket.c_str());
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  return 128 + WTERMSIG(status);
}
