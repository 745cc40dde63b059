// MaxPacketBytes: /sql stops fetching a result that would take more, and says why.
#include <gtest/gtest.h>

#include "tests/support/fb_testdb.h"
#include "tests/support/form.h"

namespace kvo::dataservice {
namespace {

using testing::Form;
using testing::TempDatabase;

TEST(MaxPacketBytes, ALargerResultIsRefusedAndLogged) {
  KVO_REQUIRE_FIREBIRD();
  TempDatabase db;
  db.Execute({"create table t (s varchar(100), b blob sub_type 1)",
              "execute block as declare i integer = 0; begin while (i < 1000) do begin "
              "insert into t values (lpad('', 100, 'x'), null); i = i + 1; end end",
              "insert into t values ('big', lpad('', 30000, 'y'))"});
  const std::string refused =
      "The result is larger than this server allows (MaxPacketBytes = 20000).";
  struct Case {
    const char* what;
    const char* settings;  // the [Server] section's lines; nullptr: no settings file
    std::string q, z;
    bool whole;  // the answer is the result, else the refusal
  } cases[] = {
      {"no settings file", nullptr, "select * from t", "false", true},
      {"key missing", "Other=1", "select * from t", "false", true},
      {"small result", "MaxPacketBytes=20000", "select s from t where s = 'big'", "false", true},
      {"many rows", "MaxPacketBytes=20000", "select s from t", "false", false},
      {"many rows, compressed", "MaxPacketBytes=20000", "select s from t", "true", false},
      {"one large blob", "MaxPacketBytes=20000", "select b from t where s = 'big'", "false", false},
      {"not a number", "MaxPacketBytes=lots", "select * from t", "false", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    testing::TempDir drives;
    testing::WriteFile(drives.path() + "/C/KVO/KVO.Net/Logs/Log.txt", "");
    if (c.settings)
      testing::WriteFile(drives.path() + "/C/KVO/KVO.Net/Config/KVO.Server.Config",
                         std::string("[Server]\r\n") + c.settings + "\r\n");
    auto r = testing::PostCgi("/sql",
                              Form({{"db", db.connection()},
                                    {"u", db.user()},
                                    {"p", db.password()},
                                    {"z", c.z},
                                    {"q", c.q}}),
                              {{"KVO_DRIVES", drives.path()}});
    const std::string body = r.Body();
    const std::string log = testing::ReadFile(drives.path() + "/C/KVO/KVO.Net/Logs/Log.txt");
    EXPECT_EQ(body.find(refused) == std::string::npos, c.whole) << body.substr(0, 300);
    EXPECT_EQ(log.find(refused) == std::string::npos, c.whole) << log;
    if (c.whole && c.z == "false") {
      EXPECT_NE(body.find("</ROWDATA></DATAPACKET>"), std::string::npos) << body.substr(0, 300);
    }
  }
}

// One blob larger than the limit is not read whole before the refusal.
TEST(MaxPacketBytes, AHugeBlobIsNotReadWhole) {
  KVO_REQUIRE_FIREBIRD();
  if (testing::kAddressSanitizer) GTEST_SKIP() << "the sanitizer's memory is not the program's";
  TempDatabase db;
  db.Execute("create table t (b blob sub_type 0)");
  const size_t size = 32u << 20;
  {
    fb::Attachment a = db.Attach();
    fb::Transaction tx = a.StartTransaction();
    a.Prepare(tx, "insert into t values (?)").Execute({fb::Bytes{std::string(size, 'y')}});
    tx.Commit();
    a.Close();
  }
  testing::TempDir drives;
  testing::WriteFile(drives.path() + "/C/KVO/KVO.Net/Config/KVO.Server.Config",
                     "[Server]\r\nMaxPacketBytes=1000000\r\n");
  auto post = [&](const std::string& q) {
    return testing::PostCgi(
        "/sql", Form({{"db", db.connection()}, {"u", db.user()}, {"p", db.password()}, {"q", q}}),
        {{"KVO_DRIVES", drives.path()}});
  };
  const long reference = post("select 1 from rdb$database").peakKb;
  auto r = post("select b from t");
  EXPECT_NE(r.Body().find("(MaxPacketBytes = 1000000)"), std::string::npos)
      << r.Body().substr(0, 300);
  EXPECT_LT(r.peakKb - reference, static_cast<long>(size / 1024 / 4))
      << "peak " << r.peakKb << " KB, a one-row select's " << reference << " KB";
}

}  // namespace
}  // namespace kvo::dataservice
