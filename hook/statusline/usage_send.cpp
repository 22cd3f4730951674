#include "appclient/rpc.hpp"
#include "hook/statusline/usage_report.hpp"

namespace kestrum::statusline {

void send_usage_notification(const std::filesystem::path& socket, const Json& identity,
                             const Json& params, std::chrono::nanoseconds limit) {
  // Best effort: the status line looks the same whether the app heard it or not.
  [[maybe_unused]] const auto sent = rpc_notify(socket, identity, "usage_report", params, limit);
}

}  // namespace kestrum::statusline
