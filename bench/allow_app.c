/* A minimal app for the benchmark: listens on the socket given as its only word and
 * answers every request line, without parsing JSON. The greeting (id 1) gets protocol
 * version 0, every other request "allow". One connection at a time; it runs until killed. */
#include <errno.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

static void answer(int fd, const char* head, size_t head_size) {
  /* Every message we receive starts {"id":N, since members are written in name order. */
  static const char prefix[] = "{\"id\":";
  if (head_size <= sizeof prefix - 1 || memcmp(head, prefix, sizeof prefix - 1) != 0) return;
  unsigned long id = 0;
  for (size_t i = sizeof prefix - 1; i < head_size && head[i] >= '0' && head[i] <= '9'; ++i) {
    id = id * 10 + (unsigned long)(head[i] - '0');
  }
  char reply[160];
  const int n = snprintf(
      reply, sizeof reply, "{\"id\":%lu,\"jsonrpc\":\"2.0\",\"result\":%s}\n", id,
      id == 1 ? "{\"protocol_version\":0}" : "{\"decision\":\"allow\",\"reason\":\"bench\"}");
  for (int done = 0; done < n;) {
    const ssize_t w = write(fd, reply + done, (size_t)(n - done));
    if (w <= 0) return;
    done += (int)w;
  }
}

static void serve(int fd) {
  static char buffer[1 << 16];
  char head[32];
  size_t head_size = 0;
  for (;;) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    for (ssize_t i = 0; i < n; ++i) {
      const char c = buffer[i];
      if (c == '\n') {
        answer(fd, head, head_size);
        head_size = 0;
      } else if (head_size < sizeof head) {
        head[head_size++] = c;
      }
    }
  }
}

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  signal(SIGPIPE, SIG_IGN);
  struct sockaddr_un address = {.sun_family = AF_UNIX};
  if (strlen(argv[1]) >= sizeof address.sun_path) return 2;
  strcpy(address.sun_path, argv[1]);
  unlink(argv[1]);
  const int listener = socket(AF_UNIX, SOCK_STREAM, 0);
  if (listener < 0 || bind(listener, (struct sockaddr*)&address, sizeof address) != 0 ||
      listen(listener, 16) != 0) {
    perror("allow_app");
    return 1;
  }
  for (;;) {
    const int fd = accept(listener, NULL, NULL);
    if (fd < 0) continue;
    serve(fd);
    close(fd);
  }
}
