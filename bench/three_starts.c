/* The floor for one status line refresh: the three process starts it takes (this program,
 * itself again, then /bin/sh -c "$KESTRUM_USER_STATUSLINE"), each handing its input on and
 * the output back, and nothing else: no lock, no cache, no JSON. */
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#define MAX_BYTES 65536

extern char** environ;

static size_t read_all(int fd, char* buf, size_t room) {
  size_t got = 0;
  ssize_t n;
  while (got < room && (n = read(fd, buf + got, room - got)) > 0) got += (size_t)n;
  return got;
}

static void write_all(int fd, const char* buf, size_t size) {
  ssize_t n;
  while (size > 0 && (n = write(fd, buf, size)) > 0) {
    buf += n;
    size -= (size_t)n;
  }
}

int main(int argc, char** argv) {
  static char input[MAX_BYTES], output[MAX_BYTES];
  const size_t in_size = read_all(0, input, sizeof input);
  const char* command = getenv("KESTRUM_USER_STATUSLINE");
  char* again[] = {argv[0], "again", NULL};
  char* shell[] = {"/bin/sh", "-c", (char*)(command ? command : ""), NULL};
  char** child_argv = argc > 1 && strcmp(argv[1], "again") == 0 ? shell : again;

  int to_child[2], from_child[2];
  if (pipe(to_child) != 0 || pipe(from_child) != 0) return 0;
  const pid_t pid = vfork();
  if (pid == 0) {
    dup2(to_child[0], 0);
    dup2(from_child[1], 1);
    close(to_child[0]);
    close(to_child[1]);
    close(from_child[0]);
    close(from_child[1]);
    execve(child_argv[0], child_argv, environ);
    _exit(127);
  }
  /* A child that exits before reading its input must not take this process with it; set
   * only now, so that the child started with SIGPIPE at its default, as kestrum's do. */
  signal(SIGPIPE, SIG_IGN);
  close(to_child[0]);
  close(from_child[1]);
  write_all(to_child[1], input, in_size);
  close(to_child[1]);
  const size_t out_size = read_all(from_child[0], output, sizeof output);
  if (pid > 0) waitpid(pid, NULL, 0);
  write_all(1, output, out_size);
  return 0;
}
