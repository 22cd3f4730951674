// The status line's child handling where no new thread can start: it must need none, so
// that none is still running when the process exits. Only Linux lets a test change the
// default thread attributes.
#include <gtest/gtest.h>
#include <pthread.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <functional>

#include "hook/statusline/child.hpp"
#include "hook/statusline/statusline.hpp"
#include "testing/process/temp_dir.hpp"

namespace kestrum::statusline {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using kestrum::testkit::TempDir;

std::optional<std::string> run_for(const std::string& script, std::chrono::milliseconds within,
                                   std::string_view input) {
  auto child = spawn_with_input(shell_command(script), input);
  if (!child) return "not started";
  return wait_for_output(std::move(*child), Clock::now() + within, AtDeadline::Kill);
}

// Makes every new thread need a stack the system will not give; the child process that
// posix_spawn starts does not depend on it.
void refuse_new_threads() {
  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  pthread_attr_setstacksize(&attributes, std::size_t{1} << 44);
  pthread_setattr_default_np(&attributes);
  pthread_attr_destroy(&attributes);
  std::ifstream statm("/proc/self/statm");
  std::size_t pages = 0;
  statm >> pages;
  const rlim_t room = pages * static_cast<rlim_t>(::sysconf(_SC_PAGESIZE)) + (rlim_t{256} << 20);
  const rlimit limit{room, room};
  ::setrlimit(RLIMIT_AS, &limit);
}

// Runs `body` in a forked copy of this process, whose exit status reports the verdict.
void in_forked_process(const std::function<bool()>& body) {
  const pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    refuse_new_threads();
    ::_exit(body() ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

bool no_child_left() {
  return ::waitpid(-1, nullptr, WNOHANG) == -1 && errno == ECHILD;
}

TEST(ThreadRefusalTest, FeedingWaitingAndTimingOutNeedNoThread) {
  in_forked_process([] {
    const bool fed = run_for("cat", 4s, std::string(1 << 20, 'y')) == std::string(65536, 'y');
    const bool capped = run_for("sleep 30", 200ms, "input") == std::nullopt;
    return fed && capped && no_child_left();
  });
}

TEST(ThreadRefusalTest, AProgramThatCannotStartLeavesNoChildBehind) {
  in_forked_process([] {
    return !spawn_with_input(Command{.program = "/nonexistent/program"}, "input") &&
           no_child_left();
  });
}

TEST(ThreadRefusalTest, TheSupervisorNeedsNoThread) {
  TempDir dir;
  const fs::path lock = dir.path() / "s.lock", cache = dir.path() / "s.out";
  in_forked_process([&] {
    Env env;
    env.user_statusline = "echo hi";
    const Outcome outcome =
        supervise({"statusline-user", "--out", cache.string(), "--lock", lock.string()}, "{}", env);
    return outcome.out == std::optional<std::string>("hi") && no_child_left();
  });
  EXPECT_FALSE(fs::exists(lock));
  EXPECT_TRUE(fs::exists(cache));
}

}  // namespace
}  // namespace kestrum::statusline
