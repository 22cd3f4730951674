// Runs kestrum-hook and its references as whole processes, interleaved in one run, and
// prints one table of medians, p10, p90 and ratios. Times nothing against a bound.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
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
  double rss_kib = 0;
  double minor_faults = 0;
};

struct Side {
  std::string label;
  Program program;
  std::string expect;  // text its answer must contain
  std::vector<Sample> samples;
  std::vector<Sample> memory;  // peak size and faults, taken through the measure program
};

struct Case {
  std::string name;
  std::string input;
  std::size_t input_bytes = 0;
  int reps = 0;
  Side kestrum;
  Side reference;
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
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    const auto end = std::chrono::steady_clock::now();
    sample = Sample{std::chrono::duration<double, std::micro>(end - start).count(), 0, 0};
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

// Peak size and faults of one run, started from the small measure program.
bool measure_side(const std::string& measure, Side& side, const std::string& input,
                  const fs::path& dir) {
  const fs::path stats = dir / "stats";
  Program program = side.program;
  program.argv.insert(program.argv.begin(), {measure, stats.native()});
  if (!run_once(program, input, dir / "out")) return false;
  std::istringstream words(read_file(stats));
  Sample sample;
  if (!(words >> sample.rss_kib >> sample.minor_faults)) {
    std::fprintf(stderr, "kestrum-bench: %s was not measured\n", side.label.c_str());
    return false;
  }
  side.memory.push_back(sample);
  return true;
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

void print_time_row(const Case& c) {
  const auto k = field(c.kestrum.samples, &Sample::micros);
  const auto r = field(c.reference.samples, &Sample::micros);
  std::printf("| %s | %s | %s | %s | %s: %s | %s | %s | %.2f |\n", c.name.c_str(),
              duration(percentile(k, 0.5)).c_str(), duration(percentile(k, 0.1)).c_str(),
              duration(percentile(k, 0.9)).c_str(), c.reference.label.c_str(),
              duration(percentile(r, 0.5)).c_str(), duration(percentile(r, 0.1)).c_str(),
              duration(percentile(r, 0.9)).c_str(), percentile(k, 0.5) / percentile(r, 0.5));
}

void print_memory_row(const char* name, const Case& c) {
  const auto k = field(c.kestrum.memory, &Sample::rss_kib);
  const auto r = field(c.reference.memory, &Sample::rss_kib);
  char ratio[32] = "—";
  if (c.input_bytes > (1u << 20)) {
    std::snprintf(ratio, sizeof ratio, "%.1f× input",
                  percentile(k, 0.5) * 1024 / static_cast<double>(c.input_bytes));
  }
  std::printf("| %s | %s | %s | %s | %s: %s | %s | %s | %s |\n", name,
              mebibytes(percentile(k, 0.5)).c_str(), mebibytes(percentile(k, 0.1)).c_str(),
              mebibytes(percentile(k, 0.9)).c_str(), c.reference.label.c_str(),
              mebibytes(percentile(r, 0.5)).c_str(), mebibytes(percentile(r, 0.1)).c_str(),
              mebibytes(percentile(r, 0.9)).c_str(), ratio);
}

void print_faults_row(const Case& c) {
  const auto k = field(c.kestrum.memory, &Sample::minor_faults);
  const auto r = field(c.reference.memory, &Sample::minor_faults);
  std::printf(
      "| P4 minor page faults, small event | %.0f | %.0f | %.0f | %s: %.0f | %.0f | %.0f | %.2f "
      "|\n",
      percentile(k, 0.5), percentile(k, 0.1), percentile(k, 0.9), c.reference.label.c_str(),
      percentile(r, 0.5), percentile(r, 0.1), percentile(r, 0.9),
      percentile(k, 0.5) / percentile(r, 0.5));
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
  std::string hook, client, app, measure, python, python_hook, three_starts;
  double scale = 1;
};

std::optional<Options> parse(int argc, char** argv) {
  Options o;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string name = argv[i];
    const std::string value = argv[i + 1];
    if (name == "--hook")
      o.hook = value;
    else if (name == "--client")
      o.client = value;
    else if (name == "--app")
      o.app = value;
    else if (name == "--measure")
      o.measure = value;
    else if (name == "--python")
      o.python = value;
    else if (name == "--python-hook")
      o.python_hook = value;
    else if (name == "--three-starts")
      o.three_starts = value;
    else if (name == "--scale")
      o.scale = std::atof(value.c_str());
    else
      return std::nullopt;
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
  const Side hook{"kestrum", {{o.hook, "PreToolUse"}, hook_env}, allow, {}, {}};
  const Side c_client{"static C client", {{o.client}, hook_env}, allow, {}, {}};
  const Side python{"Python hook", {{o.python, o.python_hook}, hook_env}, allow, {}, {}};
  const auto reps = [&](int n) { return std::max(3, static_cast<int>(n * o.scale)); };

  std::vector<Case> cases;
  auto add = [&](std::string name, std::string event, int n, Side k, Side r) {
    const fs::path input = dir / ("input-" + std::to_string(cases.size()) + ".json");
    write_file(input, event);
    cases.push_back(
        {std::move(name), input.native(), event.size(), reps(n), std::move(k), std::move(r)});
  };
  add("P1 PreToolUse, small event, app answers allow", small_event(app_home), 301, hook, c_client);
  for (const auto& [label, bytes] :
       {std::pair{"1 MiB", std::size_t{1} << 20}, std::pair{"7 MiB", std::size_t{7} << 20},
        // the hook reads at most 8 MiB: just under it
        std::pair{"8 MiB", (std::size_t{8} << 20) - 1024}}) {
    add(std::string("P2 PreToolUse, ") + label + " Write event", write_event(app_home, bytes),
        bytes > (1u << 20) ? 15 : 41, hook, python);
  }
  const std::string status =
      "{\"session_id\":\"3f1c2a9e-bench\",\"cwd\":\"/tmp\",\"model\":{\"display_name\":\"Opus\"}}";
  const Side shell{"sh -c 'echo hi'", {{"/bin/sh", "-c", "echo hi"}, status_env}, "hi", {}, {}};
  add("P3 status line, known session, `echo hi`, no app", status, 201,
      Side{"kestrum", {{o.hook, "statusline"}, status_env}, "hi", {}, {}}, shell);
  // Not kestrum: what three process starts cost here, in the same run.
  add("P3 floor: its three process starts in static C, not kestrum", status, 201,
      Side{"three starts", {{o.three_starts}, status_env}, "hi", {}, {}}, shell);

  const fs::path out = dir / "out";
  int most = 0;
  for (const auto& c : cases) most = std::max(most, c.reps);
  for (int i = 0; i <= most; ++i) {
    for (auto& c : cases) {
      if (i > c.reps) continue;
      // Alternate who goes first, so neither always runs on a cache the other warmed.
      Side& first = i % 2 ? c.reference : c.kestrum;
      Side& second = i % 2 ? c.kestrum : c.reference;
      if (!run_side(first, c.input, out, i == 0) || !run_side(second, c.input, out, i == 0)) {
        return 1;
      }
    }
  }

  for (Case* c : {&cases[0], &cases[2]}) {
    for (int i = 0; i < reps(9); ++i) {
      if (!measure_side(o.measure, c->kestrum, c->input, dir) ||
          !measure_side(o.measure, c->reference, c->input, dir)) {
        return 1;
      }
    }
  }

  std::printf("| case | kestrum | p10 | p90 | reference | p10 | p90 | ratio |\n");
  std::printf("|---|---|---|---|---|---|---|---|\n");
  for (const auto& c : cases) print_time_row(c);
  print_memory_row("P4 peak RSS, small event", cases[0]);
  print_memory_row("P4 peak RSS, 7 MiB event", cases[2]);
  print_faults_row(cases[0]);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const auto options = parse(argc, argv);
  if (!options) {
    std::fprintf(stderr,
                 "usage: kestrum-bench --hook H --client C --app A --measure M --python P "
                 "--python-hook F --three-starts T [--scale S]\n");
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
