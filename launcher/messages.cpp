#include "launcher/messages.hpp"

#include <cstring>

namespace kestrum::launcher {
namespace {

struct Reason {
  std::string operator()(const PathsError& e) const {
    const bool path = e.kind == PathsErrorKind::SocketPathTooLong;
    return (path ? "경로: " : "profile: ") + describe(e);
  }
  std::string operator()(MissingHome) const { return "HOME 이 없다"; }
  std::string operator()(AppNotRunning) const { return "앱이 켜져 있지 않다"; }
  std::string operator()(RpcError e) const { return std::string(to_string(e)); }
};

}  // namespace

std::string refusal_line(std::string_view refused) {
  return "kestrum: '" + std::string(refused) +
         "' 는 kestrum claude 에서 쓸 수 없어요 — kestrum 의 보호(설정·회신 도구·권한 모드)를 "
         "끕니다";
}

std::string unregistered_notice(std::string_view reason) {
  return "kestrum: kestrum 없이 띄웁니다 — 동료에게 보이지 않아요(" + std::string(reason) + ")";
}

std::string launch_failure_line(int error_number) {
  return "kestrum: claude 를 띄우지 못했어요: " + std::string(std::strerror(error_number)) +
         " (os error " + std::to_string(error_number) + ")";
}

std::string unregistered_reason(const RegisterError& error) {
  return std::visit(Reason{}, error);
}

}  // namespace kestrum::launcher
