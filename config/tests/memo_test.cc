// The memo file's name: what a posted cnpj may name, and the path built from it.
#include <gtest/gtest.h>

#include "config/memo_service.h"

namespace kvo::config {
namespace {

TEST(MemoName, StaysInsideTheDirectory) {
  const std::string_view good[] = {"12345678000195",
                                   "12.345.678/0001-90",
                                   "12.345.678\\0001-90",
                                   "",
                                   "..a",
                                   "a..",
                                   "a..b/c",
                                   ".",
                                   "./x",
                                   "a/./b",
                                   "..."};
  for (std::string_view cnpj : good) EXPECT_TRUE(IsMemoName(cnpj)) << cnpj;
  const std::string_view bad[] = {"..",
                                  "../x",
                                  "..\\x",
                                  "a/..",
                                  "a\\..\\..\\x",
                                  "/x",
                                  "\\x",
                                  "\\\\h\\s",
                                  "C:x",
                                  "a:b",
                                  ":",
                                  "a/../b",
                                  std::string_view("x\0y", 3)};
  for (std::string_view cnpj : bad) EXPECT_FALSE(IsMemoName(cnpj)) << cnpj;
}

TEST(MemoName, PathIsBuiltUnchanged) {
  EXPECT_EQ(MemoPath("C:\\Memos", "1"), "C:\\Memos\\1.rtf");
  EXPECT_EQ(MemoPath("C:\\Memos\\", "1"), "C:\\Memos\\\\1.rtf");
  EXPECT_EQ(MemoPath("", ""), "\\.rtf");
}

}  // namespace
}  // namespace kvo::config
