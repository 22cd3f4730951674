// A stand-in for the kestrum desktop app: the real line protocol on a real Unix socket.
//
//   FakeApp app(layout.socket);                       // listening from here on
//   app.on("policy_check", Reply::result({{"decision", "allow"}}));
//   app.on("policy_wait", [](const Json& request) {   // computed from the request
//     return Reply::result({{"decision", "deny"}}).after(500ms);
//   });
//   ... run the hook ...
//   ASSERT_TRUE(app.wait_for_messages(2, 5s));
//   EXPECT_EQ(app.messages()[1]["method"], "policy_check");
//
// Each client is served on its own thread, so parallel hooks are answered at once. Unless
// scripted, "hello" is answered with {"protocol_version":0}, other requests get a null result
// and notifications nothing. Misbehaviour is scripted with Reply (see reply.hpp). stop(), or
// the destructor, closes every client and the listener, joins every thread and removes the
// socket file.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "common/json.hpp"
#include "common/unique_fd.hpp"
#include "testing/app_double/reply.hpp"

namespace kestrum::testkit {

struct Received {
  std::size_t connection = 0;  // 0, 1, ... in order of acceptance
  std::string line;            // as it arrived, without its line feed
  Json message;                // null when the line is not JSON
};

class FakeApp {
 public:
  using Handler = std::function<Reply(const Json& message)>;
  // For answers that depend on which connection asked.
  using ConnectionHandler = std::function<Reply(const Json& message, std::size_t connection)>;
  using Observer = std::function<void(const Received& line)>;

  // Listens at once (a stale socket file at the path is replaced). With `listening_user`
  // (root only), a child of that user makes the socket and this process serves it: the
  // system then names that user as every client's peer. Throws std::system_error when the
  // socket cannot be set up (std::runtime_error when the child could not).
  explicit FakeApp(std::filesystem::path socket_path,
                   std::optional<uid_t> listening_user = std::nullopt);
  ~FakeApp();
  FakeApp(const FakeApp&) = delete;
  FakeApp& operator=(const FakeApp&) = delete;

  // The answer to every later message with this "method".
  void on(const std::string& method, Reply reply);
  void on(const std::string& method, Handler handler);
  void on(const std::string& method, ConnectionHandler handler);
  // Called on the client's thread for every line, before it is answered; set it before
  // clients connect.
  void observe(Observer observer);

  std::vector<Received> received() const;
  std::vector<Json> messages() const;
  std::vector<Json> messages_of(std::size_t connection) const;
  // True once at least `count` lines have arrived.
  bool wait_for_messages(std::size_t count, std::chrono::milliseconds timeout) const;

  std::size_t connections() const;  // accepted so far
  // True once at least `count` connections have ended (closed by either side).
  bool wait_for_closed(std::size_t count, std::chrono::milliseconds timeout) const;

  const std::filesystem::path& socket_path() const { return path_; }
  void stop();

  struct State;

 private:
  std::filesystem::path path_;
  std::shared_ptr<State> state_;
  std::thread acceptor_;
  bool stopped_ = false;
};

// A listener that never accepts and whose backlog is full, so that a connection attempt
// waits until its caller gives up. (Linux waits; macOS refuses such a connect at once.)
class FullListener {
 public:
  explicit FullListener(std::filesystem::path socket_path);
  ~FullListener();
  FullListener(const FullListener&) = delete;
  FullListener& operator=(const FullListener&) = delete;

 private:
  std::filesystem::path path_;
  UniqueFd listener_;
  std::vector<UniqueFd> queued_;
};

}  // namespace kestrum::testkit
