/* Runs a program and writes its peak resident set (KiB) and minor page faults to a file.
 * A process that starts another hands it its own peak size through exec, so the program
 * is started from this small static one rather than from the large runner. */
#include <errno.h>
#include <spawn.h>
#include <stdio.h>
#include <sys/resource.h>
#include <sys/wait.h>

extern char** environ;

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  pid_t pid = 0;
  if (posix_spawn(&pid, argv[2], NULL, NULL, argv + 2, environ) != 0) return 1;
  int status = 0;
  struct rusage usage = {0};
  while (wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
  }
#if defined(__APPLE__)
  const long rss_kib = usage.ru_maxrss / 1024; /* bytes there */
#else
  const long rss_kib = usage.ru_maxrss;
#endif
  FILE* out = fopen(argv[1], "w");
  if (!out) return 1;
  fprintf(out, "%ld %ld\n", rss_kib, usage.ru_minflt);
  return fclose(out) == 0 ? 0 : 1;
}
