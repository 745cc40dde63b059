// /memo on the private Firebird server, run as a CGI child with its own drives folder and no
// client settings file there, so the directory lookup runs directly.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <optional>

#include "config/memo_service.h"
#include "tests/support/fb_testdb.h"
#include "tests/support/form.h"

namespace kvo::config {
namespace {

using testing::FormEncode;
using testing::TempDatabase;

std::string Answer(const std::string& body) {
  std::string length =
      body.empty() ? "" : "Content-Length: " + std::to_string(body.size()) + "\r\n";
  return "Status: 200 OK\r\nContent-Type: text/html\r\nContent-Security-Policy: "
         "sandbox\r\nX-Content-Type-Options: nosniff\r\n" +
         length + "Content:\r\n\r\n" + body;
}

// A failure text echoes the posted name: it goes out with the headers that keep a browser from
// running or sniffing it.
std::string FailureAnswer(const std::string& body) {
  return "Status: 200 OK\r\nContent-Type: text/html\r\n"
         "Content-Security-Policy: sandbox\r\nX-Content-Type-Options: nosniff\r\n"
         "Content-Length: " +
         std::to_string(body.size()) + "\r\nContent:\r\n\r\n" + body;
}

std::string Missing(const std::string& windowsPath) {
  return "Cannot open file \"" + windowsPath + "\". No such file or directory";
}

class MemoTest : public ::testing::Test {
 protected:
  void SetUp() override {
    KVO_REQUIRE_FIREBIRD();
    db_ = std::make_unique<TempDatabase>();
    db_->Execute("create table config_memo (caminho varchar(255))");
  }

  // Posts /memo with the test database's credentials; `cnpj` nullopt leaves the field out.
  testing::CgiResult Post(std::optional<std::string> cnpj, const std::string& password = "") {
    std::string body = "db=" + FormEncode(db_->connection()) + "&u=" + FormEncode(db_->user()) +
                       "&p=" + FormEncode(password.empty() ? db_->password() : password);
    if (cnpj) body += "&cnpj=" + FormEncode(*cnpj);
    return testing::PostCgi("/memo", body, {{"KVO_DRIVES", drives_.path()}});
  }
  void Put(const std::string& relative, const std::string& bytes) {
    testing::WriteFile(drives_.path() + "/" + relative, bytes);
  }

  testing::TempDir drives_;
  std::unique_ptr<TempDatabase> db_;
};

TEST_F(MemoTest, SendsTheMemoWithCrLfLines) {
  db_->Execute("insert into config_memo values ('C:\\Memos')");
  struct Case {
    const char* what;
    std::string file, body;
  } cases[] = {
      {"CR LF file", "{\\rtf1 a}\r\n\\par b\r\n", "{\\rtf1 a}\r\n\\par b\r\n"},
      {"LF file", "{\\rtf1\n\\par Jo\xE3o\n}", "{\\rtf1\r\n\\par Jo\xE3o\r\n}\r\n"},
      {"CR file, blank line kept", "a\r\rb\r", "a\r\n\r\nb\r\n"},
      {"empty file", "", ""},
      {"stops at a NUL byte", std::string("a\nb\0c\n", 6), "a\r\nb\r\n"},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string cnpj = "1234567800019" + std::to_string(n++);
    Put("C/Memos/" + cnpj + ".rtf", c.file);
    EXPECT_EQ(Post(cnpj).output, Answer(c.body));
  }
}

TEST_F(MemoTest, AFileThatCannotBeReadAnswersWithTheMessage) {
  db_->Execute("insert into config_memo values ('C:\\Memos')");
  Put("C/Memos/folder.rtf/x", "");
  // A FIFO would hang an open that blocks, and a device would stream without end.
  ASSERT_EQ(mkfifo((drives_.path() + "/C/Memos/fifo.rtf").c_str(), 0666), 0);
  std::filesystem::create_symlink("/dev/zero", drives_.path() + "/C/Memos/zero.rtf");
  std::filesystem::create_symlink("nowhere.rtf", drives_.path() + "/C/Memos/dangling.rtf");
  struct Case {
    const char* what;
    std::optional<std::string> cnpj;
    std::string body;
  } cases[] = {
      {"missing", "99999999000199", Missing("C:\\Memos\\99999999000199.rtf")},
      {"no cnpj field", std::nullopt, Missing("C:\\Memos\\.rtf")},
      {"a folder", "folder", "Cannot open file \"C:\\Memos\\folder.rtf\". Is a directory"},
      {"a FIFO", "fifo", "Cannot open file \"C:\\Memos\\fifo.rtf\". Not a regular file"},
      {"a link to a device", "zero",
       "Cannot open file \"C:\\Memos\\zero.rtf\". Not a regular file"},
      {"a dangling link", "dangling", Missing("C:\\Memos\\dangling.rtf")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(Post(c.cnpj).output, FailureAnswer(c.body));
  }
}

TEST_F(MemoTest, DirectoryFromTheTable) {
  struct Case {
    const char* what;
    std::vector<std::string> rows;
    std::string file;  // relative to the drives folder
  } cases[] = {
      // An empty table gives an empty directory: the path starts at the root of drive C.
      {"empty table", {}, "C/55.rtf"},
      {"first of several rows", {"C:\\First", "C:\\Second"}, "C/First/55.rtf"},
      {"trailing backslash", {"D:\\Memos\\"}, "D/Memos/55.rtf"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    db_->Execute("delete from config_memo");
    for (const auto& row : c.rows) db_->Execute("insert into config_memo values ('" + row + "')");
    Put(c.file, "memo of " + std::string(c.what));
    Put("C/Second/55.rtf", "the second row");
    EXPECT_EQ(Post("55").output, Answer("memo of " + std::string(c.what) + "\r\n"));
    std::filesystem::remove(drives_.path() + "/" + c.file);
  }
}

// The lookup is one unit of work, committed before the memo is answered: a commit the server
// refuses (a database trigger on transaction commit) is the request's failure, not a memo.
TEST_F(MemoTest, ARefusedCommitIsAnsweredAsTheFailure) {
  db_->Execute(std::vector<std::string>{
      // The test's own attachment marks itself, so that only the program's commits are refused.
      "execute block as begin rdb$set_context('USER_SESSION', 'KVO_TEST', '1'); end",
      "insert into config_memo values ('C:\\Memos')", "create exception refused 'commit refused'",
      "create trigger refuse on transaction commit as begin"
      " if (rdb$get_context('USER_SESSION', 'KVO_TEST') is null) then exception refused; end"});
  Put("C/Memos/55.rtf", "the memo");
  testing::CgiResult r = Post("55");
  EXPECT_EQ(r.output.rfind("Status: 500", 0), 0u) << r.output;
  EXPECT_NE(r.Body().find("commit refused"), std::string::npos) << r.output;
  EXPECT_EQ(r.Body().find("the memo"), std::string::npos) << r.output;
}

// The lookup reads the one row it answers: a later row that fails to compute (here a division
// by zero) is never fetched, and a large table is never read whole.
TEST_F(MemoTest, OnlyTheFirstRowIsRead) {
  db_->Execute(std::vector<std::string>{
      "drop table config_memo", "create table memo_rows (n integer)",
      "insert into memo_rows values (1)", "insert into memo_rows values (2)",
      "create view config_memo (caminho) as select iif(n = 1, 'C:\\Memos',"
      " cast(1 / (n - 2) as varchar(255))) from memo_rows order by n"});
  Put("C/Memos/55.rtf", "the memo");
  EXPECT_EQ(Post("55").output, Answer("the memo\r\n"));
}

TEST_F(MemoTest, AWrittenCnpjNamesAFileInASubFolder) {
  db_->Execute("insert into config_memo values ('C:\\Memos')");
  Put("C/Memos/12.345.678/0001-90.rtf", "written\n");
  EXPECT_EQ(Post("12.345.678/0001-90").output, Answer("written\r\n"));
  EXPECT_EQ(Post("12.345.678\\0001-90").output, Answer("written\r\n"));
}

// The directory and the file are found as Windows finds them: in any case, trailing dots and
// blanks ignored.
TEST_F(MemoTest, NamesWithoutRegardToCase) {
  db_->Execute("insert into config_memo values ('c:\\kvo\\MEM\xD3RIAS. ')");
  Put("C/KVO/Mem\xC3\xB3rias/12345678000195.RTF", "memo\n");
  EXPECT_EQ(Post("12345678000195").output, Answer("memo\r\n"));
}

// A cnpj that would lead out of the memo directory is answered as a memo that does not exist,
// even where the file it points at is there to be read.
TEST_F(MemoTest, AHostileCnpjReadsNothing) {
  db_->Execute("insert into config_memo values ('C:\\KVO\\Memos')");
  Put("C/KVO/secret.rtf", "secret");
  Put("C/secret.rtf", "secret");
  Put("C/KVO/Memos/secret.rtf", "secret");
  Put("D/secret.rtf", "secret");
  struct Case {
    const char* what;
    std::string cnpj, shownPath;
  } cases[] = {
      {"..\\ up one", "..\\secret", "C:\\KVO\\secret.rtf"},
      {"../ up one", "../secret", "C:\\KVO\\secret.rtf"},
      {"up two, mixed", "x/..\\..\\..\\secret", "C:\\secret.rtf"},
      {"bare ..", "..", "C:\\KVO\\Memos\\...rtf"},
      {"leading backslash", "\\secret", "C:\\KVO\\Memos\\secret.rtf"},
      {"leading slash", "/secret", "C:\\KVO\\Memos\\secret.rtf"},
      {"drive", "D:\\secret", "C:\\KVO\\Memos\\D:\\secret.rtf"},
      {"colon inside", "a:b", "C:\\KVO\\Memos\\a:b.rtf"},
      {"NUL byte", std::string("secret\0x", 8), "C:\\KVO\\Memos\\secret"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(Post(c.cnpj).output, FailureAnswer(Missing(c.shownPath)));
  }
  // Dots and blanks never make a way up, however the path layer strips them.
  const Case dotted[] = {
      {".. then a blank", ".. \\secret", "C:\\KVO\\Memos\\.. \\secret.rtf"},
      {"three dots", "...\\secret", "C:\\KVO\\Memos\\...\\secret.rtf"},
      {"dot blank dot", ". ./secret", "C:\\KVO\\Memos\\. .\\secret.rtf"},
      {"dots, then up", "... \\..\\..\\secret", "C:\\KVO\\secret.rtf"},
      {"dot blank dot, then up", ". .\\..\\..\\SECRET", "C:\\KVO\\SECRET.rtf"},
  };
  for (const auto& c : dotted) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(Post(c.cnpj).output, FailureAnswer(Missing(c.shownPath)));
  }
  // Names that only look alike stay ordinary names.
  Put("C/KVO/Memos/..a.rtf", "dots");
  Put("C/KVO/Memos/a..b/c.rtf", "dots");
  EXPECT_EQ(Post("..a").output, Answer("dots\r\n"));
  EXPECT_EQ(Post("a..b/c").output, Answer("dots\r\n"));
}

TEST_F(MemoTest, AFailedLoginOrLookupIsAnInternalError) {
  db_->Execute("insert into config_memo values ('C:\\Memos')");
  Put("C/Memos/1.rtf", "memo");
  auto r = Post("1", "wrong");
  EXPECT_EQ(r.output.rfind("Status: 500", 0), 0u) << r.output;
  EXPECT_NE(r.Body().find("Your user name and password are not defined"), std::string::npos)
      << r.output;

  db_->Execute("drop table config_memo");
  r = Post("1");
  EXPECT_EQ(r.output.rfind("Status: 500", 0), 0u) << r.output;
  EXPECT_NE(r.Body().find("CONFIG_MEMO"), std::string::npos) << r.output;
}

// FetchFirstValue in this process: direct, since the drives folder has no settings file.
TEST_F(MemoTest, FetchFirstValue) {
  const char* saved = getenv("KVO_DRIVES");
  std::optional<std::string> savedDrives;
  if (saved) savedDrives = saved;
  setenv("KVO_DRIVES", drives_.path().c_str(), 1);
  db_->Execute({"create table t (n integer, s varchar(10), d date)",
                "insert into t values (null, 'x', '2024-02-29')",
                "insert into t values (2, 'y', null)"});
  helpers::Database plain;
  plain.DatabaseName = db_->connection();
  plain.Params = db_->params();
  EXPECT_EQ(FetchFirstValue(plain, "select s from t order by n nulls last"), "y");
  EXPECT_EQ(FetchFirstValue(db_->connection(), db_->params(), "select d, n from t where s = 'x'"),
            "2024-02-29");
  EXPECT_EQ(FetchFirstValue(plain, "select n from t where s = 'x'"), "") << "NULL";
  EXPECT_EQ(FetchFirstValue(plain, "select s from t where n = 99"), "") << "no rows";
  EXPECT_FALSE(plain.Connected()) << "only the name and the parameter lines are used";
  try {
    FetchFirstValue(plain, "select nope from t");
    ADD_FAILURE() << "a failing statement throws";
  } catch (const Error& e) {
    EXPECT_NE(std::string(e.what()).find("NOPE"), std::string::npos) << e.what();
  }
  if (savedDrives) {
    setenv("KVO_DRIVES", savedDrives->c_str(), 1);
  } else {
    unsetenv("KVO_DRIVES");
  }
}

}  // namespace
}  // namespace kvo::config
