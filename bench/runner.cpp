// Runs kestrum-hook and its references as whole processes, interleaved in one run, and
// prints one table of medians, p10, p90 and ratios. Times nothing against a bound.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <numeric>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace fs = std::filesystem;

namespace {

struct Program {
  std::vector<std::string> argv;
  std::vector<std::string> env;
};

struct Sample {
  double micros = 0;
  double cpu_micros = 0;  // user and system time of the process itself
  double rss_kib = 0;
  double minor_faults = 0;
  double system_calls = 0;
};

struct Side {
  std::string label;
  Program program;
  std::string expect;  // text its answer must contain
  std::vector<Sample> samples;
  std::vector<Sample> memory;  // peak size and faults, taken through the measure program
  std::vector<Sample> traced;  // system calls, taken through strace
};

struct Case {
  std::string name;
  std::string input;
  std::size_t input_bytes = 0;
  int reps = 0;
  Side reference;
  std::vector<Side> hooks;  // this build's kestrum-hook, then the baseline build's if given
  std::vector<std::size_t> order = {};  // of the sides in the last round: reference, hooks
};

std::vector<char*> pointers(std::vector<std::string>& words) {
  std::vector<char*> out;
  for (auto& w : words) out.push_back(w.data());
  out.push_back(nullptr);
  return out;
}

std::string read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// One whole-process run, from spawn to reaping, with its input from a file.
std::optional<Sample> run_once(Program& program, const std::string& input, const fs::path& out) {
  const int in_fd = ::open(input.c_str(), O_RDONLY | O_CLOEXEC);
  const int out_fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in_fd, 0);
  posix_spawn_file_actions_adddup2(&actions, out_fd, 1);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  auto argv = pointers(program.argv);
  auto envp = pointers(program.env);
  std::optional<Sample> sample;
  const auto start = std::chrono::steady_clock::now();
  pid_t pid = 0;
  if (in_fd >= 0 && out_fd >= 0 &&
      posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data()) == 0) {
    int status = 0;
    rusage usage{};
    while (::wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
    }
    const auto end = std::chrono::steady_clock::now();
    const auto micros = [](const timeval& t) {
      return 1e6 * static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec);
    };
    sample = Sample{std::chrono::duration<double, std::micro>(end - start).count(),
                    micros(usage.ru_utime) + micros(usage.ru_stime), 0, 0};
  }
  posix_spawn_file_actions_destroy(&actions);
  if (in_fd >= 0) ::close(in_fd);
  if (out_fd >= 0) ::close(out_fd);
  return sample;
}

bool run_side(Side& side, const std::string& input, const fs::path& out, bool check) {
  auto sample = run_once(side.program, input, out);
  if (!sample) {
    std::fprintf(stderr, "kestrum-bench: cannot start %s\n", side.program.argv[0].c_str());
    return false;
  }
  if (check) {
    const std::string answer = read_file(out);
    if (answer.find(side.expect) == std::string::npos) {
      std::fprintf(stderr, "kestrum-bench: %s answered \"%s\", not \"%s\"\n", side.label.c_str(),
                   answer.c_str(), side.expect.c_str());
      return false;
    }
    return true;  // the checked first run also warms the caches: not counted
  }
  side.samples.push_back(*sample);
  return true;
}

// What a wrapper program found about one run of a side, from the file `report` it wrote.
std::optional<std::string> run_wrapped(std::vector<std::string> wrapper, const Side& side,
                                       const std::string& input, const fs::path& report,
                                       const fs::path& dir) {
  Program program = side.program;
  program.argv.insert(program.argv.begin(), wrapper.begin(), wrapper.end());
  if (!run_once(program, input, dir / "out")) return std::nullopt;
  return read_file(report);
}

// Peak size and faults of one run, started from the small measure program.
bool measure_side(const std::string& measure, Side& side, const std::string& input,
                  const fs::path& dir) {
  const fs::path stats = dir / "stats";
  std::istringstream words(
      run_wrapped({measure, stats.native()}, side, input, stats, dir).value_or(""));
  Sample sample;
  if (!(words >> sample.rss_kib >> sample.minor_faults)) {
    std::fprintf(stderr, "kestrum-bench: %s was not measured\n", side.label.c_str());
    return false;
  }
  side.memory.push_back(sample);
  return true;
}

// The system calls of one run as strace counts them (its "total" line); none where it cannot
// trace, so a machine without strace, or one that forbids tracing, just has no such row.
std::optional<double> count_system_calls(const std::string& strace, const Side& side,
                                         const std::string& input, const fs::path& dir) {
  const fs::path counts = dir / "strace";
  std::istringstream lines(
      run_wrapped({strace, "-f", "-c", "-o", counts.native()}, side, input, counts, dir)
          .value_or(""));
  for (std::string line; std::getline(lines, line);) {
    std::istringstream words(line);
    const std::vector<std::string> w{std::istream_iterator<std::string>(words), {}};
    // % time, seconds, usecs/call, calls, [errors,] "total"
    if (w.size() >= 5 && w.back() == "total") return std::atof(w[3].c_str());
  }
  return std::nullopt;
}

std::string json_string(std::string_view text) {
  std::string out = "\"";
  for (const char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
      out += escaped;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

std::string event_head(const fs::path& home) {
  return "{\"session_id\":\"3f1c2a9e-bench\",\"transcript_path\":" +
         json_string((home / ".claude/projects/bench/3f1c2a9e.jsonl").native()) +
         ",\"cwd\":\"/tmp\",\"permission_mode\":\"default\",\"hook_event_name\":\"PreToolUse\",";
}

std::string small_event(const fs::path& home) {
  return event_head(home) +
         "\"tool_name\":\"Bash\",\"tool_input\":{\"command\":\"ls -la src\",\"description\":"
         "\"List the sources\"}}";
}

// A Write of source text full of quotes, backslashes, tabs and line ends, `bytes` long as JSON.
std::string write_event(const fs::path& home, std::size_t bytes) {
  static constexpr std::string_view kLine =
      "\tif (path == \"C:\\\\Users\\\\bench\") { printf(\"%s\\n\", \"caf\xc3\xa9 \xe2\x9c\x93\"); "
      "}\n";
  const std::string head = event_head(home) +
                           "\"tool_name\":\"Write\",\"tool_input\":{\"file_path\":\"/tmp/big.c\","
                           "\"content\":";
  const std::size_t line_json = json_string(kLine).size() - 2;
  std::string content;
  while (head.size() + 2 + (content.size() / kLine.size() + 1) * line_json + 3 < bytes) {
    content += kLine;
  }
  return head + json_string(content) + "}}";
}

double percentile(std::vector<double> values, double p) {
  if (values.empty()) return 0;
  std::ranges::sort(values);
  return values[static_cast<std::size_t>(p * static_cast<double>(values.size() - 1) + 0.5)];
}

std::vector<double> field(const std::vector<Sample>& samples, double Sample::*member) {
  std::vector<double> out;
  for (const auto& s : samples) out.push_back(s.*member);
  return out;
}

// Each run of `side` over the run of `other` in the same round. Runs of a round are next to
// each other in time, so a slow spell of the machine weighs on both and divides out.
std::vector<double> ratios(const Side& side, const Side& other, double Sample::*member) {
  std::vector<double> out;
  for (std::size_t i = 0; i < side.samples.size() && i < other.samples.size(); ++i) {
    out.push_back(side.samples[i].*member / other.samples[i].*member);
  }
  return out;
}

struct Spread {
  double median = 0;
  double middle_mean = 0;  // the mean of the middle half
  double error = 0;        // its standard error
  double p25 = 0;
  double p75 = 0;
};

// The median and the mean of the middle half of the values, with that mean's standard error
// (from the variance with each outer quarter set to the nearest kept value): both blind to
// the rare very slow runs a shared machine throws in, which would swamp a plain mean.
Spread spread(std::vector<double> values) {
  if (values.size() < 2) return {};
  std::ranges::sort(values);
  const std::size_t n = values.size();
  const std::size_t cut = n / 4;
  const double low = values[cut];
  const double high = values[n - 1 - cut];
  double kept = 0;
  double winsorized = 0;
  for (std::size_t i = 0; i < n; ++i) {
    if (i >= cut && i < n - cut) kept += values[i];
    winsorized += std::clamp(values[i], low, high);
  }
  const double winsorized_mean = winsorized / static_cast<double>(n);
  double squares = 0;
  for (const double v : values) {
    const double d = std::clamp(v, low, high) - winsorized_mean;
    squares += d * d;
  }
  const double kept_share = static_cast<double>(n - 2 * cut) / static_cast<double>(n);
  const double error = std::sqrt(squares / static_cast<double>(n - 1)) /
                       (kept_share * std::sqrt(static_cast<double>(n)));
  return {percentile(values, 0.5), kept / static_cast<double>(n - 2 * cut), error,
          percentile(values, 0.25), percentile(values, 0.75)};
}

std::string duration(double micros) {
  char text[32];
  if (micros < 10000) {
    std::snprintf(text, sizeof text, "%.0f µs", micros);
  } else {
    std::snprintf(text, sizeof text, "%.1f ms", micros / 1000);
  }
  return text;
}

std::string mebibytes(double kib) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f MiB", kib / 1024);
  return text;
}

// The baseline build's rows follow this build's, named so.
std::string row_name(const std::string& name, const Side& hook) {
  return hook.label == "baseline" ? name + ", baseline build" : name;
}

void print_time_rows(const Case& c) {
  const auto r = field(c.reference.samples, &Sample::micros);
  for (const auto& hook : c.hooks) {
    const auto k = field(hook.samples, &Sample::micros);
    std::printf("| %s | %s | %s | %s | %s: %s | %s | %s | %.2f |\n", row_name(c.name, hook).c_str(),
                duration(percentile(k, 0.5)).c_str(), duration(percentile(k, 0.1)).c_str(),
                duration(percentile(k, 0.9)).c_str(), c.reference.label.c_str(),
                duration(percentile(r, 0.5)).c_str(), duration(percentile(r, 0.1)).c_str(),
                duration(percentile(r, 0.9)).c_str(),
                percentile(ratios(hook, c.reference, &Sample::micros), 0.5));
  }
}

void print_memory_rows(const char* name, const Case& c) {
  const auto r = field(c.reference.memory, &Sample::rss_kib);
  for (const auto& hook : c.hooks) {
    const auto k = field(hook.memory, &Sample::rss_kib);
    char ratio[32] = "—";
    if (c.input_bytes > (1u << 20)) {
      std::snprintf(ratio, sizeof ratio, "%.1f× input",
                    percentile(k, 0.5) * 1024 / static_cast<double>(c.input_bytes));
    }
    std::printf("| %s | %s | %s | %s | %s: %s | %s | %s | %s |\n", row_name(name, hook).c_str(),
                mebibytes(percentile(k, 0.5)).c_str(), mebibytes(percentile(k, 0.1)).c_str(),
                mebibytes(percentile(k, 0.9)).c_str(), c.reference.label.c_str(),
                mebibytes(percentile(r, 0.5)).c_str(), mebibytes(percentile(r, 0.1)).c_str(),
                mebibytes(percentile(r, 0.9)).c_str(), ratio);
  }
}

// A count per run: its median, p10 and p90 beside the reference's, and the ratio of medians.
void print_count_rows(const char* name, const Case& c, std::vector<Sample> Side::*which,
                      double Sample::*member) {
  if ((c.reference.*which).empty()) return;
  const auto r = field(c.reference.*which, member);
  for (const auto& hook : c.hooks) {
    const auto k = field(hook.*which, member);
    std::printf("| %s | %.0f | %.0f | %.0f | %s: %.0f | %.0f | %.0f | %.2f |\n",
                row_name(name, hook).c_str(), percentile(k, 0.5), percentile(k, 0.1),
                percentile(k, 0.9), c.reference.label.c_str(), percentile(r, 0.5),
                percentile(r, 0.1), percentile(r, 0.9), percentile(k, 0.5) / percentile(r, 0.5));
  }
}

// The small PreToolUse in detail: each hook's runs over the floor's of the same round, and, with
// a baseline, this build's over the baseline's, in wall time and in the process's own CPU time.
void print_rounds(const Case& c) {
  std::vector<std::pair<const Side*, const Side*>> pairs;
  for (const auto& hook : c.hooks) pairs.emplace_back(&hook, &c.reference);
  if (c.hooks.size() == 2) pairs.emplace_back(&c.hooks[0], &c.hooks[1]);
  std::printf("\n%s: %zu interleaved rounds, each run over the other's run in its round\n\n",
              c.name.c_str(), c.reference.samples.size());
  std::printf("| runs compared | time | median | middle-half mean ± se | p25 | p75 |\n");
  std::printf("|---|---|---|---|---|---|\n");
  for (const auto& [member, what] :
       {std::pair{&Sample::micros, "wall"}, std::pair{&Sample::cpu_micros, "CPU"}}) {
    for (const auto& [side, other] : pairs) {
      const Spread s = spread(ratios(*side, *other, member));
      std::printf("| %s / %s | %s | %.3f | %.3f ± %.3f | %.3f | %.3f |\n", side->label.c_str(),
                  other->label.c_str(), what, s.median, s.middle_mean, s.error, s.p25, s.p75);
    }
  }
}

bool wait_for_socket(const fs::path& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
  for (int attempt = 0; attempt < 1000; ++attempt) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    const bool up = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    if (up) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

struct Options {
  std::string hook, baseline, client, app, measure, python, python_hook, three_starts, strace;
  double scale = 1;
};

std::optional<Options> parse(int argc, char** argv) {
  Options o;
  const std::pair<const char*, std::string Options::*> names[] = {
      {"--hook", &Options::hook},
      {"--baseline", &Options::baseline},
      {"--client", &Options::client},
      {"--app", &Options::app},
      {"--measure", &Options::measure},
      {"--python", &Options::python},
      {"--python-hook", &Options::python_hook},
      {"--three-starts", &Options::three_starts},
      {"--strace", &Options::strace}};
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string name = argv[i];
    const auto named = std::ranges::find(names, name, [](const auto& n) { return n.first; });
    if (named != std::end(names)) {
      o.*(named->second) = argv[i + 1];
    } else if (name == "--scale") {
      o.scale = std::atof(argv[i + 1]);
    } else {
      return std::nullopt;
    }
  }
  if (o.hook.empty() || o.client.empty() || o.app.empty() || o.measure.empty() ||
      o.python.empty() || o.python_hook.empty() || o.three_starts.empty() || o.scale <= 0) {
    return std::nullopt;
  }
  return o;
}

void write_file(const fs::path& path, std::string_view text) {
  std::ofstream(path, std::ios::binary) << text;
}

// One round of a case: each side once, in the next of all the orders its sides can run in,
// so that none always runs first or after the same one, on a cache another warmed.
bool run_round(Case& c, const fs::path& out, bool check) {
  std::vector<Side*> sides = {&c.reference};
  for (auto& hook : c.hooks) sides.push_back(&hook);
  if (c.order.size() != sides.size()) {
    c.order.resize(sides.size());
    std::iota(c.order.begin(), c.order.end(), 0);
  } else {
    std::next_permutation(c.order.begin(), c.order.end());  // after the last order, the first again
  }
  return std::ranges::all_of(
      c.order, [&](std::size_t i) { return run_side(*sides[i], c.input, out, check); });
}

int run_bench(const Options& o, const fs::path& dir) {
  const fs::path app_home = dir / "app-home";
  const fs::path status_home = dir / "status-home";  // no app: the status line runs alone
  const fs::path run_dir = app_home / "Library/Application Support/kestrum/run";
  fs::create_directories(run_dir);
  // The profile's own folder, where the status line keeps its cache and lock.
  fs::create_directories(status_home / "Library/Application Support/kestrum/profiles/kestrum");
  write_file(run_dir / "kestrum.token", "bench-token\n");
  fs::permissions(run_dir / "kestrum.token", fs::perms::owner_read | fs::perms::owner_write);

  std::vector<std::string> app_argv = {o.app, (run_dir / "kestrum.sock").native()};
  auto app_words = pointers(app_argv);
  pid_t app = 0;
  if (posix_spawn(&app, app_words[0], nullptr, nullptr, app_words.data(), environ) != 0) {
    std::fprintf(stderr, "kestrum-bench: cannot start %s\n", o.app.c_str());
    return 1;
  }
  struct AppGuard {
    pid_t pid;
    ~AppGuard() {
      ::kill(pid, SIGTERM);
      ::waitpid(pid, nullptr, 0);
    }
  } app_guard{app};
  if (!wait_for_socket(run_dir / "kestrum.sock")) {
    std::fprintf(stderr, "kestrum-bench: the allow app did not listen\n");
    return 1;
  }

  const std::vector<std::string> hook_env = {"HOME=" + app_home.native(), "PATH=/usr/bin:/bin"};
  const std::vector<std::string> status_env = {"HOME=" + status_home.native(), "PATH=/usr/bin:/bin",
                                               "KESTRUM_USER_STATUSLINE=echo hi"};
  const std::string allow = "\"permissionDecision\":\"allow\"";
  // This build's hook and, if given, the baseline build's, run with the same words.
  const auto hooks = [&](const char* mode, const std::vector<std::string>& env,
                         const std::string& expect) {
    std::vector<Side> out;
    for (const auto& [label, path] :
         {std::pair{"kestrum", &o.hook}, std::pair{"baseline", &o.baseline}}) {
      if (!path->empty()) out.push_back(Side{label, {{*path, mode}, env}, expect, {}, {}, {}});
    }
    return out;
  };
  const Side c_client{"static C client", {{o.client}, hook_env}, allow, {}, {}, {}};
  const Side python{"Python hook", {{o.python, o.python_hook}, hook_env}, allow, {}, {}, {}};
  const auto reps = [&](int n) { return std::max(3, static_cast<int>(n * o.scale)); };

  std::vector<Case> cases;
  auto add = [&](std::string name, std::string event, int n, Side reference,
                 std::vector<Side> hook_sides) {
    const fs::path input = dir / ("input-" + std::to_string(cases.size()) + ".json");
    write_file(input, event);
    cases.push_back({std::move(name), input.native(), event.size(), reps(n), std::move(reference),
                     std::move(hook_sides)});
  };
  // Many rounds: they are cheap, and a change of a few percent must stand out of the noise.
  add("P1 PreToolUse, small event, app answers allow", small_event(app_home), 1500, c_client,
      hooks("PreToolUse", hook_env, allow));
  for (const auto& [label, bytes] :
       {std::pair{"1 MiB", std::size_t{1} << 20}, std::pair{"7 MiB", std::size_t{7} << 20},
        // the hook reads at most 8 MiB: just under it
        std::pair{"8 MiB", (std::size_t{8} << 20) - 1024}}) {
    add(std::string("P2 PreToolUse, ") + label + " Write event", write_event(app_home, bytes),
        bytes > (1u << 20) ? 15 : 41, python, hooks("PreToolUse", hook_env, allow));
  }
  const std::string status =
      "{\"session_id\":\"3f1c2a9e-bench\",\"cwd\":\"/tmp\",\"model\":{\"display_name\":\"Opus\"}}";
  const Side shell{"sh -c 'echo hi'", {{"/bin/sh", "-c", "echo hi"}, status_env}, "hi", {}, {}, {}};
  add("P3 status line, known session, `echo hi`, no app", status, 201, shell,
      hooks("statusline", status_env, "hi"));
  // Not kestrum: what three process starts cost here, in the same run.
  add("P3 floor: its three process starts in static C, not kestrum", status, 201, shell,
      {Side{"three starts", {{o.three_starts}, status_env}, "hi", {}, {}, {}}});

  const fs::path out = dir / "out";
  int most = 0;
  for (const auto& c : cases) most = std::max(most, c.reps);
  for (int i = 0; i <= most; ++i) {
    for (auto& c : cases) {
      // The checked first round also warms the caches: not counted.
      if (i <= c.reps && !run_round(c, out, i == 0)) return 1;
    }
  }

  for (Case* c : {&cases[0], &cases[2]}) {
    for (int i = 0; i < reps(9); ++i) {
      if (!measure_side(o.measure, c->reference, c->input, dir)) return 1;
      for (auto& hook : c->hooks) {
        if (!measure_side(o.measure, hook, c->input, dir)) return 1;
      }
    }
  }
  if (!o.strace.empty()) {
    std::vector<Side*> traced = {&cases[0].reference};
    for (auto& hook : cases[0].hooks) traced.push_back(&hook);
    for (Side* side : traced) {
      const auto calls = count_system_calls(o.strace, *side, cases[0].input, dir);
      if (!calls) break;
      side->traced.push_back(Sample{.system_calls = *calls});
    }
  }

  std::printf("| case | kestrum | p10 | p90 | reference | p10 | p90 | ratio |\n");
  std::printf("|---|---|---|---|---|---|---|---|\n");
  for (const auto& c : cases) print_time_rows(c);
  print_memory_rows("P4 peak RSS, small event", cases[0]);
  print_memory_rows("P4 peak RSS, 7 MiB event", cases[2]);
  print_count_rows("P4 minor page faults, small event", cases[0], &Side::memory,
                   &Sample::minor_faults);
  print_count_rows("P1 system calls (strace -f -c), small event", cases[0], &Side::traced,
                   &Sample::system_calls);
  print_rounds(cases[0]);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const auto options = parse(argc, argv);
  if (!options) {
    std::fprintf(stderr,
                 "usage: kestrum-bench --hook H [--baseline H] --client C --app A --measure M "
                 "--python P --python-hook F --three-starts T [--strace S] [--scale S]\n");
    return 2;
  }
  char pattern[] = "/tmp/kestrum-bench.XXXXXX";
  if (::mkdtemp(pattern) == nullptr) return 1;
  const fs::path dir = fs::canonical(pattern);
  int status = 1;
  try {
    status = run_bench(*options, dir);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "kestrum-bench: %s\n", e.what());
  }
  std::error_code ignored;
  fs::remove_all(dir, ignored);
  return status;
}
