/* The floor for one PreToolUse call: a static C program that does the hook's exchange with
 * the app (read the event, greet, ask "policy_check", print the answer) and nothing else.
 * Event members are forwarded as the raw JSON text they arrived in. */
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#define MAX_INPUT (8u << 20)

struct text {
  char* bytes;
  size_t size;
  size_t room;
};

static void grow(struct text* t, size_t more) {
  if (t->size + more <= t->room) return;
  size_t room = t->room ? t->room : 4096;
  while (room < t->size + more) room *= 2;
  t->bytes = realloc(t->bytes, room);
  if (!t->bytes) exit(0);
  t->room = room;
}

static void put(struct text* t, const char* bytes, size_t n) {
  grow(t, n);
  memcpy(t->bytes + t->size, bytes, n);
  t->size += n;
}

static void puts_text(struct text* t, const char* s) {
  put(t, s, strlen(s));
}

static const char* skip_space(const char* p, const char* end) {
  while (p < end && (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r')) ++p;
  return p;
}

/* The end of the JSON value starting at p (no validation beyond bracket balance). */
static const char* skip_value(const char* p, const char* end) {
  int depth = 0;
  do {
    if (p >= end) return end;
    if (*p == '"') {
      for (++p; p < end && *p != '"'; ++p)
        if (*p == '\\') ++p;
      ++p;
    } else if (*p == '{' || *p == '[') {
      ++depth, ++p;
    } else if (*p == '}' || *p == ']') {
      --depth, ++p;
    } else {
      while (p < end && !strchr(",}] \t\r\n", *p)) ++p;
    }
    while (depth > 0 && p < end && strchr(" \t\r\n,:", *p)) ++p;
  } while (depth > 0);
  return p;
}

struct member {
  const char* name;
  const char* value;
  size_t size;
};

/* Finds the top-level members named in `wanted`. */
static void find_members(const char* p, const char* end, struct member* wanted, size_t count) {
  p = skip_space(p, end);
  if (p >= end || *p != '{') return;
  ++p;
  for (;;) {
    p = skip_space(p, end);
    if (p >= end || *p != '"') return;
    const char* name = p + 1;
    p = skip_value(p, end);
    size_t name_size = (size_t)(p - 1 - name);
    p = skip_space(p, end);
    if (p >= end || *p != ':') return;
    p = skip_space(p + 1, end);
    const char* value = p;
    p = skip_value(p, end);
    for (size_t i = 0; i < count; ++i) {
      if (strlen(wanted[i].name) == name_size && !memcmp(wanted[i].name, name, name_size)) {
        wanted[i].value = value;
        wanted[i].size = (size_t)(p - value);
      }
    }
    p = skip_space(p, end);
    if (p >= end || *p != ',') return;
    ++p;
  }
}

static void read_all(int fd, struct text* t, size_t limit) {
  for (;;) {
    grow(t, 65536);
    size_t room = t->room - t->size;
    if (t->size + room > limit) room = limit - t->size;
    if (room == 0) return;
    ssize_t n = read(fd, t->bytes + t->size, room);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    t->size += (size_t)n;
  }
}

/* One answer line from the app. */
static int read_line(int fd, struct text* line) {
  line->size = 0;
  for (;;) {
    char c;
    ssize_t n = read(fd, &c, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return 0;
    if (c == '\n') return 1;
    put(line, &c, 1);
  }
}

static void add_member(struct text* t, const char* name, const struct member* m, int* first) {
  if (!m->value) return;
  if (!*first) puts_text(t, ",");
  *first = 0;
  puts_text(t, "\"");
  puts_text(t, name);
  puts_text(t, "\":");
  put(t, m->value, m->size);
}

static int send_all(int fd, const struct text* t) {
  for (size_t done = 0; done < t->size;) {
    ssize_t n = write(fd, t->bytes + done, t->size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return 0;
    done += (size_t)n;
  }
  return 1;
}

int main(void) {
  struct text input = {0};
  read_all(0, &input, MAX_INPUT);
  enum { SESSION, CWD, MODE, TRANSCRIPT, TOOL, AGENT, TOOL_INPUT, COUNT };
  struct member m[COUNT] = {{"session_id"}, {"cwd"},      {"permission_mode"}, {"transcript_path"},
                            {"tool_name"},  {"agent_id"}, {"tool_input"}};
  find_members(input.bytes, input.bytes + input.size, m, COUNT);

  const char* home = getenv("HOME");
  if (!home || !m[SESSION].value) return 0;
  char path[1024];
  snprintf(path, sizeof path, "%s/Library/Application Support/kestrum/run/kestrum.token", home);
  FILE* token_file = fopen(path, "r");
  char token[256] = "";
  if (!token_file || !fgets(token, sizeof token, token_file)) return 0;
  fclose(token_file);
  token[strcspn(token, "\r\n")] = 0;

  struct sockaddr_un address = {.sun_family = AF_UNIX};
  snprintf(address.sun_path, sizeof address.sun_path,
           "%s/Library/Application Support/kestrum/run/kestrum.sock", home);
  int fd = socket(AF_UNIX, SOCK_STREAM, 0);
  if (fd < 0 || connect(fd, (struct sockaddr*)&address, sizeof address) != 0) return 0;

  struct text out = {0};
  char number[64];
  snprintf(number, sizeof number, "%d", (int)getppid());
  puts_text(&out, "{\"id\":1,\"jsonrpc\":\"2.0\",\"method\":\"hello\",\"params\":{");
  int first = 1;
  struct member config = {"config_dir", "\"\"", 2};
  add_member(&out, "config_dir", &config, &first);
  add_member(&out, "cwd", &m[CWD], &first);
  puts_text(&out, ",\"pid\":");
  puts_text(&out, number);
  puts_text(&out, ",\"protocol_version\":0,\"role\":\"hook\",\"session_id\":");
  put(&out, m[SESSION].value, m[SESSION].size);
  puts_text(&out, ",\"token\":\"");
  puts_text(&out, token);
  puts_text(&out, "\"}}\n");
  struct text line = {0};
  if (!send_all(fd, &out) || !read_line(fd, &line)) return 0;

  out.size = 0;
  first = 1;
  puts_text(&out, "{\"id\":2,\"jsonrpc\":\"2.0\",\"method\":\"policy_check\",\"params\":{");
  add_member(&out, "agent_id", &m[AGENT], &first);
  add_member(&out, "cwd", &m[CWD], &first);
  add_member(&out, "permission_mode", &m[MODE], &first);
  add_member(&out, "session_id", &m[SESSION], &first);
  add_member(&out, "tool_input", &m[TOOL_INPUT], &first);
  add_member(&out, "tool_name", &m[TOOL], &first);
  add_member(&out, "transcript_path", &m[TRANSCRIPT], &first);
  puts_text(&out, "}}\n");
  if (!send_all(fd, &out) || !read_line(fd, &line)) return 0;
  close(fd);

  put(&line, "", 1);
  if (strstr(line.bytes, "\"decision\":\"allow\"")) {
    static const char answer[] =
        "{\"hookSpecificOutput\":{\"hookEventName\":\"PreToolUse\",\"permissionDecision\":"
        "\"allow\",\"permissionDecisionReason\":\"\"}}\n";
    if (write(1, answer, sizeof answer - 1) < 0) return 0;
  }
  return 0;
}
