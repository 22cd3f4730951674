#include "appclient/rpc.hpp"
#include "hook/statusline/usage_report.hpp"

namespace kestrum::statusline {

void send_usage_notification(const std::filesystem::path& socket, const Json& identity,
                             const Json& params, std::chrono::nanoseconds limit) {
  // Best effort: the status line looks the same whether the app heard it or not.
  if (auto session = AppSession::open(socket, identity, limit)) {
    [[maybe_unused]] const auto sent = session->notify("usage_report", params);
  }
}

}  // namespace kestrum::statusline
