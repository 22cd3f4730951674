#include "testing/app_double/fake_app.hpp"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>
#include <system_error>

#include "common/local_socket.hpp"
#include "testing/process/other_user.hpp"

namespace kestrum::testkit {

namespace fs = std::filesystem;
using std::chrono::milliseconds;
using namespace std::chrono_literals;

struct FakeApp::State {
  mutable std::mutex mutex;
  mutable std::condition_variable changed;
  std::map<std::string, ConnectionHandler, std::less<>> script;
  Observer observer;
  std::vector<Received> received;
  std::size_t accepted = 0;
  std::size_t closed = 0;
  struct ClientThread {
    std::thread thread;
    std::shared_ptr<std::atomic<bool>> done;
  };
  // A long-running server would otherwise keep every finished client's thread.
  std::vector<ClientThread> clients;
  UniqueFd listener;
  // Readable once stop() has begun; every thread polls it beside its own descriptor.
  UniqueFd wake_read;
  UniqueFd wake_write;
};

namespace {

[[noreturn]] void fail(const char* what) {
  throw std::system_error(errno, std::generic_category(), what);
}

sockaddr_un address_of(const fs::path& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.native().size() >= sizeof address.sun_path) {
    throw std::system_error(ENAMETOOLONG, std::generic_category(),
                            "socket path " + path.string() + " is " +
                                std::to_string(path.native().size()) + " bytes, over the " +
                                std::to_string(sizeof address.sun_path - 1) + " bytes");
  }
  std::memcpy(address.sun_path, path.c_str(), path.native().size());
  return address;
}

void remove_stale_socket(const fs::path& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) == 0 && S_ISSOCK(st.st_mode)) ::unlink(path.c_str());
}

// The name appears only once the socket listens, so that whoever sees it can connect: the
// socket is bound under a neighbouring name and renamed into place (unless that name is
// too long for an address). Everything but the system calls is done beforehand, so that
// another user's child can make the socket.
struct Listening {
  fs::path path, staging;
  bool staged = false;
  sockaddr_un address{};
  int backlog = 0;

  Listening(const fs::path& at, int queue) : path(at), staging(at.native() + "~"), backlog(queue) {
    staged = staging.native().size() < sizeof(sockaddr_un::sun_path);
    address = address_of(staged ? staging : path);
    remove_stale_socket(staged ? staging : path);
  }

  // The listening descriptor, or -1 with errno set.
  int listen() const {
    UniqueFd fd = open_local_socket();
    // The sockets API takes the generic address type.
    const bool listening =
        fd && ::bind(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
        ::listen(fd.get(), backlog) == 0 &&
        (!staged || ::rename(staging.c_str(), path.c_str()) == 0);
    return listening ? fd.release() : -1;
  }
};

UniqueFd listen_at(const fs::path& path, int backlog, std::optional<uid_t> user = {}) {
  const Listening listening(path, backlog);
  if (user) return open_as_user(*user, [&] { return listening.listen(); });
  UniqueFd fd(listening.listen());
  if (!fd) fail("listen");
  return fd;
}

void set_nonblocking(int fd) {
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
}

// Waits for `events` on `fd` or for stop(); false when stopping.
bool wait_ready(const FakeApp::State& state, int fd, short events, int timeout_ms = -1) {
  pollfd fds[2] = {{fd, events, 0}, {state.wake_read.get(), POLLIN, 0}};
  for (;;) {
    const int n = ::poll(fds, 2, timeout_ms);
    if (n < 0 && errno == EINTR) continue;
    return n >= 0 && !(fds[1].revents & POLLIN);
  }
}

// Sleeps, cut short by stop(); false when stopping.
bool pause_for(const FakeApp::State& state, milliseconds delay) {
  if (delay <= milliseconds(0)) return true;
  pollfd wake{state.wake_read.get(), POLLIN, 0};
  int n;
  while ((n = ::poll(&wake, 1, static_cast<int>(delay.count()))) < 0 && errno == EINTR) {
  }
  return n == 0;
}

bool write_bytes(const FakeApp::State& state, int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    if (!wait_ready(state, fd, POLLOUT)) return false;
    const ssize_t n = send_no_sigpipe(fd, bytes.data(), bytes.size());
    if (n < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) continue;
    if (n <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

bool write_step_bytes(const FakeApp::State& state, int fd, std::string_view bytes,
                      milliseconds per_byte) {
  if (per_byte <= milliseconds(0)) return write_bytes(state, fd, bytes);
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (i > 0 && !pause_for(state, per_byte)) return false;
    if (!write_bytes(state, fd, bytes.substr(i, 1))) return false;
  }
  return true;
}

std::optional<std::string> step_text(const Reply::Step& step, const Json& message) {
  using Kind = Reply::Step::Kind;
  if (step.kind == Kind::Bytes) return step.bytes;
  const Json* request_id = member(message, "id");
  if (!step.id && !request_id) return std::nullopt;  // a notification has nothing to answer
  Json answer = Json::object();
  answer["id"] = step.id ? *step.id : *request_id;
  answer["jsonrpc"] = "2.0";
  answer[step.kind == Kind::Error ? "error" : "result"] = step.value;
  return dump_compact(answer) + "\n";
}

Reply default_reply(const Json& message) {
  const std::string* method = string_member(message, "method");
  if (method && *method == "hello") return Reply::greeting();
  if (member(message, "id")) return Reply::result(nullptr);
  return Reply::silence();
}

class Client {
 public:
  Client(std::shared_ptr<FakeApp::State> state, UniqueFd fd, std::size_t index)
      : state_(std::move(state)), fd_(std::move(fd)), index_(index) {}

  void serve() {
    std::string pending;
    char chunk[65536];
    for (bool open = true; open;) {
      if (!wait_ready(*state_, fd_.get(), POLLIN)) break;
      const ssize_t n = ::recv(fd_.get(), chunk, sizeof chunk, 0);
      if (n < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) continue;
      if (n <= 0) {
        if (!pending.empty()) record(pending);  // a last line without its line feed
        break;
      }
      pending.append(chunk, static_cast<std::size_t>(n));
      std::size_t feed;
      while (open && (feed = pending.find('\n')) != std::string::npos) {
        const std::string line = pending.substr(0, feed);
        pending.erase(0, feed + 1);
        open = answer(record(line));
      }
    }
    fd_.reset();
    std::lock_guard lock(state_->mutex);
    ++state_->closed;
    state_->changed.notify_all();
  }

 private:
  Json record(const std::string& line) {
    Received received{index_, line, parse_json(line).value_or(Json(nullptr))};
    FakeApp::Observer observer;
    {
      std::lock_guard lock(state_->mutex);
      state_->received.push_back(received);
      observer = state_->observer;
    }
    if (observer) observer(received);
    state_->changed.notify_all();
    return std::move(received.message);
  }

  // False once the connection is to be closed.
  bool answer(const Json& message) {
    const Reply reply = reply_for(message);
    for (const Reply::Step& step : reply.steps()) {
      if (!pause_for(*state_, step.delay)) return false;
      if (step.kind == Reply::Step::Kind::Close) return false;
      const auto text = step_text(step, message);
      if (text && !write_step_bytes(*state_, fd_.get(), *text, step.per_byte)) return false;
    }
    return true;
  }

  Reply reply_for(const Json& message) const {
    FakeApp::ConnectionHandler handler;
    if (const std::string* method = string_member(message, "method")) {
      std::lock_guard lock(state_->mutex);
      if (auto it = state_->script.find(*method); it != state_->script.end()) {
        handler = it->second;
      }
    }
    return handler ? handler(message, index_) : default_reply(message);
  }

  std::shared_ptr<FakeApp::State> state_;
  UniqueFd fd_;
  std::size_t index_;
};

void accept_clients(const std::shared_ptr<FakeApp::State>& state) {
  while (wait_ready(*state, state->listener.get(), POLLIN)) {
    UniqueFd fd = accept_local(state->listener.get());
    if (!fd) {
      // Out of descriptors, say: wait a little rather than spin on a readable listener.
      if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) pause_for(*state, 10ms);
      continue;
    }
    set_nonblocking(fd.get());
    std::lock_guard lock(state->mutex);
    std::erase_if(state->clients, [](FakeApp::State::ClientThread& c) {
      if (!c.done->load()) return false;
      c.thread.join();
      return true;
    });
    const std::size_t index = state->accepted++;
    auto done = std::make_shared<std::atomic<bool>>(false);
    auto client = std::make_shared<Client>(state, std::move(fd), index);
    state->clients.push_back({std::thread([client, done] {
                                client->serve();
                                done->store(true);
                              }),
                              done});
    state->changed.notify_all();
  }
}

}  // namespace

FakeApp::FakeApp(fs::path socket_path, std::optional<uid_t> listening_user)
    : path_(std::move(socket_path)), state_(std::make_shared<State>()) {
  int wake[2];
  if (::pipe(wake) != 0) fail("pipe");
  state_->wake_read.reset(wake[0]);
  state_->wake_write.reset(wake[1]);
  ::fcntl(wake[0], F_SETFD, FD_CLOEXEC);
  ::fcntl(wake[1], F_SETFD, FD_CLOEXEC);
  state_->listener = listen_at(path_, 64, listening_user);
  set_nonblocking(state_->listener.get());
  acceptor_ = std::thread([state = state_] { accept_clients(state); });
}

FakeApp::~FakeApp() {
  stop();
}

void FakeApp::stop() {
  if (stopped_) return;
  stopped_ = true;
  const char byte = 1;
  while (::write(state_->wake_write.get(), &byte, 1) < 0 && errno == EINTR) {
  }
  acceptor_.join();
  // The acceptor has ended, so nobody adds clients any more.
  for (State::ClientThread& client : state_->clients) client.thread.join();
  state_->clients.clear();
  state_->listener.reset();
  state_->wake_read.reset();
  state_->wake_write.reset();
  ::unlink(path_.c_str());
}

void FakeApp::on(const std::string& method, Reply reply) {
  on(method, [reply = std::move(reply)](const Json&) { return reply; });
}

void FakeApp::on(const std::string& method, Handler handler) {
  on(method,
     [handler = std::move(handler)](const Json& message, std::size_t) { return handler(message); });
}

void FakeApp::on(const std::string& method, ConnectionHandler handler) {
  std::lock_guard lock(state_->mutex);
  state_->script[method] = std::move(handler);
}

void FakeApp::observe(Observer observer) {
  std::lock_guard lock(state_->mutex);
  state_->observer = std::move(observer);
}

std::vector<Received> FakeApp::received() const {
  std::lock_guard lock(state_->mutex);
  return state_->received;
}

std::vector<Json> FakeApp::messages() const {
  std::vector<Json> all;
  for (Received& r : received()) all.push_back(std::move(r.message));
  return all;
}

std::vector<Json> FakeApp::messages_of(std::size_t connection) const {
  std::vector<Json> of_connection;
  for (Received& r : received()) {
    if (r.connection == connection) of_connection.push_back(std::move(r.message));
  }
  return of_connection;
}

bool FakeApp::wait_for_messages(std::size_t count, milliseconds timeout) const {
  std::unique_lock lock(state_->mutex);
  return state_->changed.wait_for(lock, timeout, [&] { return state_->received.size() >= count; });
}

std::size_t FakeApp::connections() const {
  std::lock_guard lock(state_->mutex);
  return state_->accepted;
}

bool FakeApp::wait_for_closed(std::size_t count, milliseconds timeout) const {
  std::unique_lock lock(state_->mutex);
  return state_->changed.wait_for(lock, timeout, [&] { return state_->closed >= count; });
}

FullListener::FullListener(fs::path socket_path) : path_(std::move(socket_path)) {
  listener_ = listen_at(path_, 0);
  const sockaddr_un address = address_of(path_);
  // Queue connections until the system refuses one: the next attempt then has to wait.
  for (int i = 0; i < 64; ++i) {
    UniqueFd fd = open_local_socket();
    if (!fd) fail("socket");
    set_nonblocking(fd.get());
    // The sockets API takes the generic address type.
    if (::connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
      break;
    }
    queued_.push_back(std::move(fd));
  }
}

FullListener::~FullListener() {
  queued_.clear();
  listener_.reset();
  ::unlink(path_.c_str());
}

}  // namespace kestrum::testkit
