// /criarib through the real CGI program: execute and commit, or export the column NOME.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/fb_testdb.h"
#include "tests/support/form.h"

namespace kvo::dataservice {
namespace {

using testing::Form;
using testing::TempDatabase;
using testing::TempDir;

class CriaribTest : public ::testing::Test {
 protected:
  void SetUp() override {
    KVO_REQUIRE_FIREBIRD();
    db_.emplace();
    db_->Execute({"create table t (id integer, nome varchar(20), outro varchar(5))",
                  "insert into t values (1, 'Ana', 'a')", "insert into t values (2, null, 'b')",
                  "insert into t values (3, 'Jo\xE3o', 'c')"});
    std::filesystem::create_directories(drives_.path() + "/C");
  }

  testing::CgiResult Run(const std::string& q) {
    return RunWith("user_name=" + db_->user() + "\r\npassword=" + db_->password(), q);
  }
  testing::CgiResult RunWith(const std::string& p, const std::string& q) {
    return testing::PostCgi("/criarib", Form({{"db", db_->connection()}, {"p", p}, {"q", q}}),
                            {{"KVO_DRIVES", drives_.path()}});
  }
  std::string ExportFile() const { return drives_.path() + "/C/tabela.txt"; }
  int Count() {
    fb::Attachment a = db_->Attach();
    fb::Transaction t = a.StartTransaction();
    fb::ResultSet rs = a.Prepare(t, "select count(*) from t").Open();
    rs.Fetch();
    return static_cast<int>(rs.GetInt64(0));
  }
  // The 500 answer of the default handling carries the message.
  static void ExpectFailure(const testing::CgiResult& r, const std::string& message) {
    EXPECT_EQ(r.output.substr(0, 16), "Status: 500 Inte") << r.output;
    EXPECT_NE(r.Body().find("<p>" + message), std::string::npos) << r.Body();
  }

  TempDir drives_;
  std::optional<TempDatabase> db_;
};

TEST_F(CriaribTest, ExecutesAndCommits) {
  testing::CgiResult r = Run("insert into t (id, nome) values (4, 'Rui')");
  EXPECT_EQ(r.output,
            "Status: 200 OK\r\nContent-Type: text/html\r\nContent-Security-Policy: "
            "sandbox\r\nX-Content-Type-Options: nosniff\r\nContent:\r\n\r\n");
  EXPECT_EQ(Count(), 4);
  EXPECT_FALSE(std::filesystem::exists(ExportFile()));

  // A failing statement changes nothing and reaches the default handling.
  ExpectFailure(Run("insert into t (id) values ('x')"), "conversion error from string \"x\"");
  EXPECT_EQ(Count(), 4);
}

TEST_F(CriaribTest, ExportsTheColumnNome) {
  testing::CgiResult r = Run("SeLeCt outro, nome from t order by id");
  EXPECT_EQ(r.output,
            "Status: 200 OK\r\nContent-Type: text/html\r\nContent-Security-Policy: "
            "sandbox\r\nX-Content-Type-Options: nosniff\r\nContent:\r\n\r\n");
  EXPECT_EQ(testing::ReadFile(ExportFile()), "Ana\r\n\r\nJo\xE3o\r\n");

  // No rows: an empty file.
  Run("select nome from t where id < 0");
  EXPECT_EQ(testing::ReadFile(ExportFile()), "");

  // Nothing but the export itself is left in the folder.
  size_t files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(drives_.path() + "/C")) {
    (void)entry;
    ++files;
  }
  EXPECT_EQ(files, 1u);
}

TEST_F(CriaribTest, FailedExportKeepsTheOldFile) {
  testing::WriteFile(ExportFile(), "old\r\n");
  struct Case {
    const char* q;
    std::string message;
  };
  const Case cases[] = {
      {"select id, outro from t", "Field 'NOME' not found"},
      {"select id from t where id < 0", "Field 'NOME' not found"},
      // "select" inside a string literal takes the export path: the insert is not run.
      {"insert into t (id, nome) values (5, 'SELECT')", "The statement does not open a cursor"},
      {"select nome from nada", "Dynamic SQL Error\n-SQL error code = -204\n-Table unknown\n-NADA"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.q);
    ExpectFailure(Run(c.q), c.message);
    EXPECT_EQ(testing::ReadFile(ExportFile()), "old\r\n");
  }
  EXPECT_EQ(Count(), 3);

  // A file that cannot be written: the drive's folder is missing.
  std::filesystem::remove_all(drives_.path() + "/C");
  ExpectFailure(Run("select nome from t"),
                "Cannot create file \"C:\\tabela.txt\". No such file or directory");
}

// A commit the server refuses (here every commit of the program) is the request's failure: the
// write is not kept and the export file is not written.
TEST_F(CriaribTest, ARefusedCommitFailsTheRequest) {
  db_->Execute(std::vector<std::string>{
      "create exception refused 'commit refused'",
      "create trigger refuse on transaction commit as begin"
      " if (rdb$get_context('SYSTEM', 'CLIENT_PROCESS') containing 'kvowebserver') then"
      " exception refused; end"});
  for (const char* q : {"insert into t (id, nome) values (4, 'Rui')", "select nome from t"}) {
    SCOPED_TRACE(q);
    testing::CgiResult r = Run(q);
    EXPECT_EQ(r.output.substr(0, 16), "Status: 500 Inte") << r.output;
    EXPECT_NE(r.Body().find("commit refused"), std::string::npos) << r.Body();
  }
  EXPECT_EQ(Count(), 3);
  EXPECT_FALSE(std::filesystem::exists(ExportFile()));
}

// COMMIT and ROLLBACK end the transaction themselves and are answered as done; a NUL byte
// runs nothing (the server would run the statement's prefix); SET TRANSACTION is refused.
TEST_F(CriaribTest, TransactionEndingStatementsAndNulBytes) {
  for (const char* q : {"commit", "rollback", "COMMIT WORK", "commit retain", "rollback retain"}) {
    SCOPED_TRACE(q);
    EXPECT_EQ(Run(q).output,
              "Status: 200 OK\r\nContent-Type: text/html\r\nContent-Security-Policy: "
              "sandbox\r\nX-Content-Type-Options: nosniff\r\nContent:\r\n\r\n");
  }
  ExpectFailure(Run("set transaction"),
                "SET TRANSACTION cannot run here: the statement already runs in a transaction");
  for (const auto& [before, after] : std::vector<std::pair<std::string, std::string>>{
           {"delete from t where id > 0", " and id = 2"},
           {"delete from t", ""},
           {"select nome from t", " where id = 1"}}) {
    SCOPED_TRACE(before);
    ExpectFailure(Run(before + '\0' + after), "The statement holds a NUL byte at position " +
                                                  std::to_string(before.size() + 1) +
                                                  "; nothing was run");
  }
  EXPECT_EQ(Count(), 3);
  EXPECT_FALSE(std::filesystem::exists(ExportFile()));
}

// An export whose select writes through a procedure and fails on the third row leaves no row.
TEST_F(CriaribTest, AFailureMidFetchLeavesNoWrites) {
  db_->Execute(std::vector<std::string>{
      "create exception boom 'boom on the third row'",
      "create procedure third returns (nome varchar(20)) as declare i integer = 0; begin"
      " while (i < 3) do begin i = i + 1; if (i = 3) then exception boom;"
      " insert into t (id) values (100 + :i); nome = 'n' || i; suspend; end end"});
  testing::CgiResult r = Run("select nome from third");
  EXPECT_EQ(r.output.substr(0, 16), "Status: 500 Inte") << r.output;
  EXPECT_NE(r.Body().find("boom on the third row"), std::string::npos) << r.Body();
  EXPECT_EQ(Count(), 3);
  EXPECT_FALSE(std::filesystem::exists(ExportFile()));
}

TEST_F(CriaribTest, RefusedLogin) {
  testing::CgiResult r =
      testing::PostCgi("/criarib",
                       Form({{"db", db_->path()},
                             {"p", "user_name=" + db_->user() + "\npassword=wrong"},
                             {"q", "delete from t"}}),
                       {{"KVO_DRIVES", drives_.path()}});
  ExpectFailure(r, "Your user name and password are not defined.");
  EXPECT_EQ(Count(), 3);
}

// The parameter text takes the four names of a login, written loosely; any other line is
// refused with its name rather than dropped.
TEST_F(CriaribTest, ParameterLines) {
  const std::string u = db_->user(), pw = db_->password();
  struct Case {
    std::string p;
    std::string message;  // empty: the statement runs
  } cases[] = {
      {" user_name = " + u + " \r\n\r\n  password=" + pw + "\t\r\n", ""},
      {"ISC_DPB_USER_NAME=" + u + "\nIsc_Dpb_Password=" + pw + "\nlc_ctype = WIN1252\n", ""},
      {"user_name=" + u + "\npassword=" + pw + "\nsql_role_name=RDB$ADMIN", ""},
      {"user_name=" + u + "\npassword=" + pw + "\nsql_dialect=1",
       "Unknown connection parameter \"sql_dialect\""},
      {"user_name=" + u + "\npassword=" + pw + "\n num_buffers = 100",
       "Unknown connection parameter \"num_buffers\""},
      {"isc_dpb_config=Providers=Engine12\nuser_name=" + u + "\npassword=wrong",
       "Unknown connection parameter \"isc_dpb_config\""},
      {"user_name " + u + "\npassword=" + pw,
       "Unknown connection parameter \"user_name " + u + "\""},
  };
  int expected = Count();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.p);
    testing::CgiResult r = RunWith(c.p, "insert into t (id) values (10)");
    if (c.message.empty()) {
      EXPECT_EQ(r.output,
                "Status: 200 OK\r\nContent-Type: text/html\r\nContent-Security-Policy: "
                "sandbox\r\nX-Content-Type-Options: nosniff\r\nContent:\r\n\r\n");
      ++expected;
    } else {
      ExpectFailure(r, c.message);
    }
    EXPECT_EQ(Count(), expected);
  }
}

// Longer than Firebird takes: refused with the server's own message, nothing run.
TEST_F(CriaribTest, StatementTooLong) {
  std::string q = "insert into t (id) values (11)";
  q.resize(10485760, ' ');
  ExpectFailure(Run(q + " "),
                "Dynamic SQL Error\n-SQL error code = -902\n-Implementation limit exceeded\n"
                "-SQL statement is too long. Maximum size is 10485760 bytes.");
  EXPECT_EQ(Count(), 3);
  EXPECT_EQ(Run(q + ";").output,
            "Status: 200 OK\r\nContent-Type: text/html\r\nContent-Security-Policy: "
            "sandbox\r\nX-Content-Type-Options: nosniff\r\nContent:\r\n\r\n");
  EXPECT_EQ(Count(), 4);
}

}  // namespace
}  // namespace kvo::dataservice
