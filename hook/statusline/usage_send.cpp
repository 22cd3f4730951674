#include "hook/statusline/usage_report.hpp"

namespace kestrum::statusline {

void send_usage_notification(const std::filesystem::path&, const Json&, const Json&,
                             std::chrono::nanoseconds) {}

}  // namespace kestrum::statusline
