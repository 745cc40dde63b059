// Peak memory of the program for large request bodies to /login (no login needed), against a
// small request measured in the same run: prints each peak and (peak - small) / body size.
// Usage: kvo_bench_body_memory [MEGABYTES] (50 by default)
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "tests/support/cgi_runner.h"

int main(int argc, char** argv) {
  const size_t megabytes = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 50;
  const size_t size = megabytes << 20;
  kvo::testing::TempDir dir;
  const std::string body = dir.path() + "/body";
  const long reference = kvo::testing::PostCgi("/login", "db=&u=&p=").peakKb;
  std::printf("small request: peak %ld KB\n", reference);
  struct Case {
    const char* what;
    std::string head;
    char fill;
  } cases[] = {
      {"\"&\"", "", '&'},
      {"one field", "q=", 'a'},
  };
  for (const auto& c : cases) {
    // Written to a file, not held here: a forked child's peak counts its parent's pages.
    {
      std::ofstream f(body, std::ios::binary | std::ios::trunc);
      f << c.head;
      const std::string chunk(1u << 16, c.fill);
      for (size_t n = c.head.size(); n < size; n += chunk.size())
        f.write(chunk.data(), static_cast<std::streamsize>(std::min(chunk.size(), size - n)));
    }
    const long peak = kvo::testing::PostCgiFile("/login", body).peakKb;
    std::printf("%zu MB of %s: peak %ld KB, (peak - small) / body = %.2f\n", megabytes, c.what,
                peak, static_cast<double>(peak - reference) * 1024.0 / static_cast<double>(size));
  }
  return 0;
}
