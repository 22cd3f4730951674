// The development app's answers to the hook and the launcher, on the stand-in app's socket
// server: the app's side of the protocol is written once, in testing/fake_app.
#pragma once

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "testing/app_double/fake_app.hpp"
#include "tools/devapp/layout.hpp"
#include "tools/devapp/log.hpp"
#include "tools/devapp/rules.hpp"

namespace kestrum::devapp {

struct AppConfig {
  Rules rules;
  std::filesystem::path hook_program;
  std::string profile;
  std::optional<std::string> user_statusline;
};

class DevApp {
 public:
  // Listens on the layout's socket; throws std::system_error when it cannot.
  DevApp(const Layout& layout, AppConfig config, Log& log);
  // Stops serving, then removes the settings files it handed out.
  ~DevApp();
  DevApp(const DevApp&) = delete;
  DevApp& operator=(const DevApp&) = delete;

  void mark_remote(const std::string& session_id);
  void mark_local(const std::string& session_id);
  // A person's answer to a hold waiting for one; false when no such hold waits.
  bool decide(const std::string& perm_id, Decision decision, std::optional<std::string> reason);
  // One line per hold waiting for a person: its perm id and the tool call.
  std::vector<std::string> pending_holds();

 private:
  struct Verdict {
    Decision decision;
    std::optional<std::string> reason;
  };
  struct Hold {
    std::string call;                                          // as shown on the screen
    std::optional<std::chrono::steady_clock::time_point> due;  // timed: decided by itself
    Verdict verdict;                                           // timed: at `due`
    bool decided = false;                                      // a person answered
  };

  using Reply = testkit::Reply;
  void install_handlers();
  Reply answer(std::size_t connection, const std::string& method, Json result);
  Reply hello(const Json& message, std::size_t connection);
  Reply policy_check(const Json& params, std::size_t connection);
  Reply policy_wait(const Json& params, std::size_t connection);
  Reply permission_decide(const Json& params, std::size_t connection);
  Reply launch_register(const Json& params, std::size_t connection);
  std::string hold(const Rule& rule, const Json& params);
  // The person's verdict, once given; nothing when the app stops first.
  std::optional<Verdict> await_person(const std::string& perm_id);

  const Layout& layout_;
  AppConfig config_;
  Log& log_;
  std::mutex mutex_;
  std::condition_variable decided_;
  bool stopping_ = false;
  std::map<std::string, Hold> holds_;    // by perm_id
  std::set<std::string> launch_tokens_;  // issued by launch.register
  std::vector<std::filesystem::path> settings_files_;
  unsigned next_perm_ = 1;
  testkit::FakeApp server_;
};

}  // namespace kestrum::devapp
