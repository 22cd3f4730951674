#include "testing/process/other_user.hpp"

#include <fcntl.h>
#include <grp.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace kestrum::testkit {
namespace {

namespace fs = std::filesystem;

// One byte, with room beside it for one descriptor.
struct DescriptorMessage {
  char byte = 0;
  iovec data{&byte, 1};
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
  msghdr message{};

  DescriptorMessage() {
    message.msg_iov = &data;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
  }
  DescriptorMessage(const DescriptorMessage&) = delete;
  DescriptorMessage& operator=(const DescriptorMessage&) = delete;
};

bool send_descriptor(int channel, int fd) {
  DescriptorMessage sent;
  cmsghdr* header = CMSG_FIRSTHDR(&sent.message);
  header->cmsg_level = SOL_SOCKET;
  header->cmsg_type = SCM_RIGHTS;
  header->cmsg_len = CMSG_LEN(sizeof(int));
  std::memcpy(CMSG_DATA(header), &fd, sizeof fd);
  return ::sendmsg(channel, &sent.message, 0) == 1;
}

UniqueFd receive_descriptor(int channel) {
  DescriptorMessage received;
  ssize_t got;
  while ((got = ::recvmsg(channel, &received.message, 0)) < 0 && errno == EINTR) {
  }
  const cmsghdr* header = got == 1 ? CMSG_FIRSTHDR(&received.message) : nullptr;
  if (!header || header->cmsg_type != SCM_RIGHTS) return UniqueFd();
  int fd = -1;
  std::memcpy(&fd, CMSG_DATA(header), sizeof fd);
  UniqueFd descriptor(fd);
  if (::fcntl(fd, F_SETFD, FD_CLOEXEC) != 0) return UniqueFd();
  return descriptor;
}

[[noreturn]] void run_child(uid_t user, int channel, const std::function<int()>& open) {
  const gid_t group = user;
  if (::setgroups(1, &group) != 0 || ::setgid(group) != 0 || ::setuid(user) != 0) ::_exit(1);
  const int fd = open();
  ::_exit(fd >= 0 && send_descriptor(channel, fd) ? 0 : 2);
}

}  // namespace

bool can_act_as_other_user() {
  return ::geteuid() == 0;
}

UniqueFd open_as_user(uid_t user, const std::function<int()>& open) {
  int channel[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM, 0, channel) != 0) throw std::runtime_error("socketpair");
  const UniqueFd ours(channel[0]), theirs(channel[1]);
  const pid_t child = ::fork();
  if (child < 0) throw std::runtime_error("fork");
  if (child == 0) run_child(user, theirs.get(), open);
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    throw std::runtime_error("the other user's child failed");
  }
  UniqueFd fd = receive_descriptor(ours.get());
  if (!fd) throw std::runtime_error("no descriptor from the other user's child");
  return fd;
}

void open_to_everyone(const fs::path& top, const fs::path& dir) {
  constexpr auto search = fs::perms::group_exec | fs::perms::others_exec;
  for (fs::path folder = dir; folder != top; folder = folder.parent_path()) {
    if (!folder.has_relative_path()) throw std::runtime_error("not below the top folder");
    fs::permissions(folder, search, fs::perm_options::add);
  }
  fs::permissions(top, search, fs::perm_options::add);
  fs::permissions(dir, fs::perms::all);
}

}  // namespace kestrum::testkit
