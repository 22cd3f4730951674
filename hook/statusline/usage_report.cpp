#include "hook/statusline/usage_report.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

#include "appclient/app_session.hpp"
#include "common/deadline.hpp"
#include "common/utf8.hpp"
#include "hook/intake.hpp"

namespace kestrum::statusline {
namespace {

constexpr std::size_t kMaxLabelChars = 64;

// Any JSON number, as a double.
std::optional<double> number(const Json* value) {
  if (!value || !value->is_number()) return std::nullopt;
  return value->get<double>();
}

std::optional<double> finite_number(const Json* value) {
  const auto n = number(value);
  if (!n || !std::isfinite(*n)) return std::nullopt;
  return n;
}

// An integer literal from 0 to 2^64 - 1; fractions, exponents and negatives do not count.
std::optional<std::uint64_t> count(const Json* value) {
  if (!value) return std::nullopt;
  if (value->is_number_unsigned()) return value->get<std::uint64_t>();
  // Signed storage holds negative literals, and "-0", which is no negative number.
  if (value->is_number_integer() && value->get<std::int64_t>() >= 0) {
    return static_cast<std::uint64_t>(value->get<std::int64_t>());
  }
  return std::nullopt;
}

// An integer literal within the signed 64-bit range.
std::optional<std::int64_t> signed_integer(const Json* value) {
  if (!value) return std::nullopt;
  if (value->is_number_unsigned()) {
    const auto n = value->get<std::uint64_t>();
    if (n > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
      return std::nullopt;
    }
    return static_cast<std::int64_t>(n);
  }
  if (value->is_number_integer()) return value->get<std::int64_t>();
  return std::nullopt;
}

void add_rate_limit_windows(const Json& status, Json& report) {
  const Json* limits = object_member(status, "rate_limits");
  if (!limits) return;
  for (const char* name : {"five_hour", "seven_day"}) {
    const Json* window = object_member(*limits, name);
    if (!window) continue;
    const auto used = finite_number(member(*window, "used_percentage"));
    const auto resets_at = signed_integer(member(*window, "resets_at"));
    // -0 is not below zero, so it passes.
    if (!used || *used < 0 || !resets_at) continue;
    report[name] = {{"resets_at", *resets_at}, {"used_pct", *used}};
  }
}

void add_context(const Json& status, Json& report) {
  const Json* context = object_member(status, "context_window");
  if (!context) return;
  const auto size = count(member(*context, "context_window_size"));
  if (!size) return;
  const auto used = finite_number(member(*context, "used_percentage"));
  report["context"] = {{"used_pct", used ? Json(*used) : Json(nullptr)}, {"window", *size}};
}

void add_cost(const Json& status, Json& report) {
  const Json* cost = object_member(status, "cost");
  const Json* context = object_member(status, "context_window");
  if (!cost || !context) return;
  const auto usd = finite_number(member(*cost, "total_cost_usd"));
  const auto input_tokens = count(member(*context, "total_input_tokens"));
  const auto output_tokens = count(member(*context, "total_output_tokens"));
  const auto lines_added = count(member(*cost, "total_lines_added"));
  const auto lines_removed = count(member(*cost, "total_lines_removed"));
  if (!usd || !input_tokens || !output_tokens || !lines_added || !lines_removed) return;
  report["cost"] = {{"input_tokens", *input_tokens},
                    {"lines_added", *lines_added},
                    {"lines_removed", *lines_removed},
                    {"output_tokens", *output_tokens},
                    {"usd", *usd}};
}

void add_model(const Json& status, Json& report) {
  const Json* model = object_member(status, "model");
  if (!model) return;
  auto id = clean_label(member(*model, "id"));
  if (!id) return;
  Json entry = {{"id", std::move(*id)}};
  if (auto name = clean_label(member(*model, "display_name"))) entry["name"] = std::move(*name);
  report["model"] = std::move(entry);
}

bool is_hidden_character(char32_t c) {
  return c <= 0x1F || (c >= 0x7F && c <= 0x9F) || (c >= 0x200B && c <= 0x200F) ||
         (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069) || c == 0xFEFF;
}

// Best effort: the status line looks the same whether the app heard it or not.
void send_usage_notification(const std::filesystem::path& socket, const Json& identity,
                             const Json& params, std::chrono::nanoseconds limit) {
  if (auto session = AppSession::open(socket, identity, limit)) {
    [[maybe_unused]] const auto sent = session->notify("usage_report", params);
  }
}

}  // namespace

std::optional<std::string> clean_label(const Json* value) {
  if (!value || !value->is_string()) return std::nullopt;
  const std::string text = to_utf8_lossy(value->get_ref<const std::string&>());
  std::string shown;
  shown.reserve(text.size());
  for (std::size_t pos = 0; pos < text.size();) {
    const std::size_t start = pos;
    if (!is_hidden_character(next_code_point(text, pos))) shown.append(text, start, pos - start);
  }
  const std::string_view trimmed = trim_unicode_whitespace(shown);
  if (trimmed.empty()) return std::nullopt;
  return std::string(trimmed.substr(0, utf8_prefix_length(trimmed, kMaxLabelChars)));
}

Json build_usage_report(const Json& status) {
  Json report = Json::object();
  add_rate_limit_windows(status, report);
  add_context(status, report);
  add_cost(status, report);
  add_model(status, report);
  return report;
}

void report_usage(const std::optional<SessionPaths>& session, const Json& status, const Env& env) {
  if (!env.home || !session) return;
  Json params = build_usage_report(status);
  if (params.empty()) return;
  const std::string config_dir = config_directory(env);
  params["session_id"] = session->session_id;
  params["config_dir"] = config_dir;
  const auto identity =
      identity_object(status, session->session_id, config_dir, env, session->paths.token_path());
  if (!identity) return;
  const auto limit = std::min<std::chrono::nanoseconds>(env.request_timeout, kReportLimit);
  send_usage_notification(session->paths.socket_path(), *identity, params, limit);
}

}  // namespace kestrum::statusline
