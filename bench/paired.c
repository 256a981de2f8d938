/* Runs commands in turns and reports each run's cost, so that commands compared with each other
 * meet the same machine conditions: run i starts with command i mod N and takes the others in
 * order after it, which alternates the order of a pair. Each command runs with its standard
 * output on /dev/null, after WARMUP untimed turns. For every timed run one line goes to standard
 * output:
 *   TURN  COMMAND  CPU-NS  WALL-NS  PEAK-RSS-KIB
 * where COMMAND counts from 0 in the order given, CPU is the child's user plus system time and
 * the peak RSS its maximum resident set size, both as wait4 reports them (descendants it waited
 * for included). A command that fails stops everything.
 *   paired RUNS WARMUP :: COMMAND ARG... [:: COMMAND ARG...]... */

#define _GNU_SOURCE

#include <errno.h>
#include <fcntl.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

extern char** environ;

enum { kMostCommands = 8 };

struct Cost {
  long long cpu_ns, wall_ns;
  long rss_kib;
};

static long long now_ns(void) {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return (long long)t.tv_sec * 1000000000LL + t.tv_nsec;
}

static int run(char** command, struct Cost* cost) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  const long long start = now_ns();
  pid_t child;
  const int failed = posix_spawnp(&child, command[0], &actions, NULL, command, environ);
  posix_spawn_file_actions_destroy(&actions);
  if (failed) {
    fprintf(stderr, "paired: %s: %s\n", command[0], strerror(failed));
    return -1;
  }
  int status = 0;
  struct rusage usage;
  while (wait4(child, &status, 0, &usage) < 0) {
    if (errno != EINTR) {
      perror("paired: wait4");
      return -1;
    }
  }
  cost->wall_ns = now_ns() - start;
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    fprintf(stderr, "paired: %s failed (status %d)\n", command[0], status);
    return -1;
  }
  cost->cpu_ns = ((long long)usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000000000LL +
                 ((long long)usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1000LL;
  cost->rss_kib = usage.ru_maxrss;
  return 0;
}

int main(int argc, char** argv) {
  if (argc < 5 || strcmp(argv[3], "::") != 0) {
    fprintf(stderr, "usage: paired RUNS WARMUP :: COMMAND ARG... [:: COMMAND ARG...]...\n");
    return 2;
  }
  const int runs = atoi(argv[1]);
  const int warmup = atoi(argv[2]);
  char** commands[kMostCommands];
  int count = 0;
  for (int i = 3; i < argc; ++i) {
    if (strcmp(argv[i], "::") != 0) continue;
    argv[i] = NULL; /* ends the previous command */
    if (i + 1 == argc || strcmp(argv[i + 1], "::") == 0 || count == kMostCommands) {
      fprintf(stderr, "paired: an empty command, or more than %d\n", kMostCommands);
      return 2;
    }
    commands[count++] = argv + i + 1;
  }
  for (int turn = -warmup; turn < runs; ++turn) {
    for (int k = 0; k < count; ++k) {
      const int which = ((turn % count + count) % count + k) % count;
      struct Cost cost;
      if (run(commands[which], &cost) != 0) return 1;
      if (turn >= 0)
        printf("%d\t%d\t%lld\t%lld\t%ld\n", turn, which, cost.cpu_ns, cost.wall_ns, cost.rss_kib);
    }
  }
  return 0;
}
