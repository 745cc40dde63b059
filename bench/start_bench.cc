// How much a request's process costs before it does anything: /script as a CGI process (the
// built kvowebserver, which answers it without touching a file or a database) against an empty
// program linked with the Firebird client library only. Both are started the same way, one after
// the other, in rounds, so that both see the same machine load. Prints the medians and the ratio.
//   kvo_start_bench [--runs N]     (N processes of each per round, 5 rounds)
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

// Milliseconds for `runs` processes of `program`, each waited for before the next starts.
double Run(const char* program, int runs, char** env) {
  const auto start = Clock::now();
  for (int i = 0; i < runs; ++i) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    pid_t pid;
    char* argv[] = {const_cast<char*>(program), nullptr};
    if (posix_spawn(&pid, program, &actions, nullptr, argv, env) != 0) {
      std::perror(program);
      std::exit(1);
    }
    posix_spawn_file_actions_destroy(&actions);
    int status;
    waitpid(pid, &status, 0);
  }
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  int runs = 200;
  for (int i = 1; i < argc; ++i)
    if (!std::strcmp(argv[i], "--runs") && i + 1 < argc) runs = std::atoi(argv[++i]);
  std::vector<std::string> vars = {"REQUEST_METHOD=GET", "SERVER_PROTOCOL=HTTP/1.1",
                                   "PATH_INFO=/script", "SCRIPT_NAME=/kvo/kvowebserver.exe",
                                   "REMOTE_ADDR=127.0.0.1"};
  std::vector<char*> env;
  for (auto& v : vars) env.push_back(v.data());
  env.push_back(nullptr);
  std::vector<double> server, empty;
  Run(KVO_SERVER_BINARY, 20, env.data());  // page cache and dynamic linker cache warm
  Run(KVO_BENCH_EMPTY_FB, 20, env.data());
  for (int round = 0; round < 5; ++round) {
    server.push_back(Run(KVO_SERVER_BINARY, runs, env.data()) / runs);
    empty.push_back(Run(KVO_BENCH_EMPTY_FB, runs, env.data()) / runs);
  }
  const double s = Median(server), e = Median(empty);
  std::printf("process start, median of 5 rounds of %d processes each\n", runs);
  std::printf("  /script as a CGI process                 %7.2f ms\n", s);
  std::printf("  empty program linked with libfbclient    %7.2f ms\n", e);
  std::printf("  ratio %.2f (goal <= 1.50)\n", s / e);
  return 0;
}
