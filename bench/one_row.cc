// The smallest whole program for a one-row query: attach, fetch one row, print it, end.
// Usage: kvo_bench_one_row [--fast-exit] DATABASE USER PASSWORD SQL
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "fb/fb.h"

int main(int argc, char** argv) {
  bool fastExit = argc > 1 && std::strcmp(argv[1], "--fast-exit") == 0;
  if (fastExit) {
    --argc;
    ++argv;
  }
  if (argc != 5) {
    std::fprintf(stderr, "usage: kvo_bench_one_row [--fast-exit] DATABASE USER PASSWORD SQL\n");
    return 2;
  }
  try {
    using namespace kvo::fb;
    Attachment a = Attachment::Open(
        argv[1], {std::string("user_name=") + argv[2], std::string("password=") + argv[3]});
    Transaction t = a.StartTransaction();
    Statement s = a.Prepare(t, argv[4]);
    ResultSet rows = s.Open();
    if (rows.Fetch()) {
      for (size_t c = 0; c < rows.Columns().size(); ++c)
        std::printf("%s%s", c ? ";" : "", rows.GetAsText(c).c_str());
      std::printf("\n");
    }
    rows.Close();
    a.Close();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  std::fflush(stdout);
  if (fastExit) _exit(0);
  return 0;
}
