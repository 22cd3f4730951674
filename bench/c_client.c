/* The floor for one PreToolUse call: a static C program that does the hook's exchange with
 * the app (read the event, greet, ask "policy_check", print the answer) and nothing else.
 * It is as lean as such a client can be, so that the floor moves only with the machine:
 * static buffers, no stdio and no heap of its own, each message one write and each answer
 * one read, and no descriptor closed that the exit closes anyway. Event members are forwarded
 * as the raw JSON text they arrived in. */
#include <errno.h>
#include <fcntl.h>
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

/* Messages that do not fit are cut; the app then refuses them and the client prints nothing. */
static void put(struct text* t, const char* bytes, size_t n) {
  if (n > t->room - t->size) n = t->room - t->size;
  memcpy(t->bytes + t->size, bytes, n);
  t->size += n;
}

static void put_text(struct text* t, const char* s) {
  put(t, s, strlen(s));
}

static void put_number(struct text* t, unsigned long n) {
  char digits[24];
  size_t at = sizeof digits;
  do digits[--at] = (char)('0' + n % 10);
  while ((n /= 10) != 0);
  put(t, digits + at, sizeof digits - at);
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

/* Reads until end of input, or, with `until_line`, until a line end arrives. */
static size_t read_some(int fd, char* bytes, size_t room, int until_line) {
  size_t size = 0;
  while (size < room) {
    ssize_t n = read(fd, bytes + size, room - size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    size += (size_t)n;
    if (until_line && memchr(bytes + size - (size_t)n, '\n', (size_t)n)) break;
  }
  return size;
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

static void add_member(struct text* t, const char* name, const struct member* m, int* first) {
  if (!m->value) return;
  if (!*first) put_text(t, ",");
  *first = 0;
  put_text(t, "\"");
  put_text(t, name);
  put_text(t, "\":");
  put(t, m->value, m->size);
}

/* Sends one request and reads its answer line into `answer`. */
static int ask(int fd, const struct text* request, struct text* answer) {
  if (!send_all(fd, request)) return 0;
  answer->size = read_some(fd, answer->bytes, answer->room - 1, 1);
  answer->bytes[answer->size] = 0;
  return memchr(answer->bytes, '\n', answer->size) != NULL;
}

int main(void) {
  /* In zeroed static storage: pages the event does not reach are never touched. */
  static char input[MAX_INPUT], message[MAX_INPUT + 4096], reply[65536];
  const size_t input_size = read_some(0, input, sizeof input, 0);
  enum { SESSION, CWD, MODE, TRANSCRIPT, TOOL, AGENT, TOOL_INPUT, COUNT };
  struct member m[COUNT] = {{"session_id"}, {"cwd"},      {"permission_mode"}, {"transcript_path"},
                            {"tool_name"},  {"agent_id"}, {"tool_input"}};
  find_members(input, input + input_size, m, COUNT);

  const char* home = getenv("HOME");
  if (!home || !m[SESSION].value) return 0;
  static const char run[] = "/Library/Application Support/kestrum/run/kestrum.";
  struct sockaddr_un address = {.sun_family = AF_UNIX};
  struct text path = {address.sun_path, 0, sizeof address.sun_path - 1};
  put_text(&path, home);
  put_text(&path, run);
  put_text(&path, "token");
  char token[256];
  const int token_fd = open(address.sun_path, O_RDONLY);
  if (token_fd < 0) return 0;
  size_t token_size = read_some(token_fd, token, sizeof token - 1, 1);
  token[token_size] = 0;
  token_size = strcspn(token, "\r\n");

  path.size -= strlen("token");
  put_text(&path, "sock");
  address.sun_path[path.size] = 0;
  const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
  if (fd < 0 || connect(fd, (struct sockaddr*)&address, sizeof address) != 0) return 0;

  struct text out = {message, 0, sizeof message};
  struct text answer = {reply, 0, sizeof reply};
  put_text(&out,
           "{\"id\":1,\"jsonrpc\":\"2.0\",\"method\":\"hello\",\"params\":{\"config_dir\":\"");
  put_text(&out, home);
  put_text(&out, "/.claude\"");
  int first = 0;
  add_member(&out, "cwd", &m[CWD], &first);
  put_text(&out, ",\"pid\":");
  put_number(&out, (unsigned long)getppid());
  put_text(&out, ",\"protocol_version\":0,\"role\":\"hook\",\"session_id\":");
  put(&out, m[SESSION].value, m[SESSION].size);
  put_text(&out, ",\"token\":\"");
  put(&out, token, token_size);
  put_text(&out, "\"}}\n");
  if (!ask(fd, &out, &answer)) return 0;

  out.size = 0;
  first = 1;
  put_text(&out, "{\"id\":2,\"jsonrpc\":\"2.0\",\"method\":\"policy_check\",\"params\":{");
  add_member(&out, "agent_id", &m[AGENT], &first);
  add_member(&out, "cwd", &m[CWD], &first);
  add_member(&out, "permission_mode", &m[MODE], &first);
  add_member(&out, "session_id", &m[SESSION], &first);
  add_member(&out, "tool_input", &m[TOOL_INPUT], &first);
  add_member(&out, "tool_name", &m[TOOL], &first);
  add_member(&out, "transcript_path", &m[TRANSCRIPT], &first);
  put_text(&out, "}}\n");
  if (!ask(fd, &out, &answer)) return 0;

  if (strstr(answer.bytes, "\"decision\":\"allow\"")) {
    static const char allow[] =
        "{\"hookSpecificOutput\":{\"hookEventName\":\"PreToolUse\",\"permissionDecision\":"
        "\"allow\"}}\n";
    struct text line = {(char*)allow, sizeof allow - 1, sizeof allow - 1};
    send_all(1, &line);
  }
  return 0;
}
