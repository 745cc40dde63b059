// Reading and splitting a request body costs memory in proportion to the body, however many
// fields it holds: at most kFactor times its size above a small request's peak.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "tests/support/cgi_runner.h"

namespace kvo::app {
namespace {

constexpr long kFactor = 4;

// Writes `head` and then `unit` until the file holds at least `size` bytes, without holding
// the body in this process (whose pages the program's peak would include).
void WriteBody(const std::string& path, const std::string& head, const std::string& unit,
               size_t size) {
  std::string chunk;
  while (chunk.size() < (1u << 16)) chunk += unit;
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f << head;
  for (size_t n = head.size(); n < size; n += chunk.size()) f << chunk;
}

TEST(BodyMemory, PeakIsBoundedByTheBodySize) {
  if (testing::kAddressSanitizer) GTEST_SKIP() << "the sanitizer's memory is not the program's";
  const size_t size = 8u << 20;
  testing::TempDir dir;
  const std::string body = dir.path() + "/body";
  const long reference = testing::PostCgi("/login", "db=&u=&p=").peakKb;
  struct Case {
    const char* what;
    std::string head, unit;
  } cases[] = {
      {"separators only", "u=x", "&"},
      {"one large field", "u=x&q=", "a"},
      {"one large encoded field", "u=x&q=", "%41"},
      {"many short fields", "u=x", "&a=1"},
  };
  for (const auto& c : cases) {
    WriteBody(body, c.head, c.unit, size);
    const auto bytes = static_cast<long>(std::filesystem::file_size(body));
    auto r = testing::PostCgiFile("/login", body);
    EXPECT_EQ(r.Body(), "false") << c.what;
    EXPECT_LE(r.peakKb - reference, kFactor * bytes / 1024)
        << c.what << ": peak " << r.peakKb << " KB, a small request's " << reference << " KB";
  }
}

}  // namespace
}  // namespace kvo::app
