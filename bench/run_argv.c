/* Runs commands whose argument vectors are stored in files, one after the other, and stops at the
 * first that fails. Each FILE holds one command: its arguments, each ended by a NUL byte. This
 * lets the benchmarks pass tens of thousands of arguments (10,000 --include options, say) without
 * a shell parsing them, and costs the tool and its peers the same one extra exec.
 *   run_argv FILE... */

#define _POSIX_C_SOURCE 200809L

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

/* Reads FILE whole and splits it at NUL bytes into a NULL-terminated vector. */
static char** load_argv(const char* file) {
  FILE* in = fopen(file, "rb");
  if (in == NULL) return NULL;
  size_t size = 0, capacity = 1 << 16;
  char* text = malloc(capacity);
  size_t n;
  while (text != NULL && (n = fread(text + size, 1, capacity - size, in)) > 0) {
    size += n;
    if (size == capacity) {
      char* larger = realloc(text, capacity *= 2);
      if (larger == NULL) free(text);
      text = larger;
    }
  }
  fclose(in);
  if (text == NULL || size == 0 || text[size - 1] != '\0') return NULL;
  size_t count = 0;
  for (size_t i = 0; i < size; ++i) count += text[i] == '\0';
  char** argv = malloc((count + 1) * sizeof *argv);
  if (argv == NULL) return NULL;
  size_t k = 0;
  for (size_t i = 0; i < size; i += strlen(text + i) + 1) argv[k++] = text + i;
  argv[k] = NULL;
  return argv;
}

int main(int argc, char** argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: run_argv FILE...\n");
    return 2;
  }
  for (int i = 1; i < argc; ++i) {
    char** command = load_argv(argv[i]);
    if (command == NULL) {
      fprintf(stderr, "run_argv: cannot read a command from %s\n", argv[i]);
      return 2;
    }
    const pid_t child = fork();
    if (child < 0) {
      perror("run_argv: fork");
      return 2;
    }
    if (child == 0) {
      execvp(command[0], command);
      fprintf(stderr, "run_argv: %s: %s\n", command[0], strerror(errno));
      _exit(127);
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
      fprintf(stderr, "run_argv: %s failed\n", command[0]);
      return 1;
    }
  }
  return 0;
}
