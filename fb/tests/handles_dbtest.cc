// Every handle of the layer goes back to the server once its owner goes, in whatever order the
// owners go and whether they closed themselves or failed. The server's monitoring tables show
// what an attachment still holds; the sanitizer pass of the same test shows that nothing is
// released twice (a second release frees the client's object again) or never (a leak).
#include <gtest/gtest.h>

#include <functional>
#include <optional>

#include "fb/fb.h"
#include "tests/support/fb_testdb.h"

namespace kvo::fb {
namespace {

using testing::TempDatabase;

struct Held {
  int64_t statements = 0;
  int64_t transactions = 0;
  int64_t attachments = 0;
  bool operator==(const Held&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Held& h) {
  return os << h.attachments << " attachment(s), " << h.transactions << " transaction(s), "
            << h.statements << " statement(s)";
}

class HandlesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    KVO_REQUIRE_FIREBIRD();
    db_.emplace();
    db_->Execute({"create table t (id integer, note blob sub_type text)",
                  "insert into t values (1, 'one')", "insert into t values (2, 'two')"});
    monitor_.emplace(db_->Attach());
  }
  void TearDown() override {
    if (monitor_) monitor_->Close();
  }

  static int64_t ConnectionId(Attachment& a) {
    Transaction t = a.StartTransaction();
    ResultSet rs = a.Prepare(t, "select current_connection from rdb$database").Open();
    rs.Fetch();
    return rs.GetInt64(0);
  }

  // What the server holds for the attachment `id`. The monitoring tables are a snapshot per
  // transaction, so each look takes a new one.
  Held HeldBy(int64_t id) {
    Transaction t = monitor_->StartTransaction();
    auto count = [&](const std::string& table) {
      ResultSet rs = monitor_
                         ->Prepare(t, "select count(*) from " + table +
                                          " where mon$attachment_id = " + std::to_string(id))
                         .Open();
      rs.Fetch();
      return rs.GetInt64(0);
    };
    Held h{count("mon$statements"), count("mon$transactions"), count("mon$attachments")};
    t.Commit();
    return h;
  }

  // A round trip on `a`: the client sends the releases it defers with the next request.
  static void Flush(Attachment& a) {
    Transaction t = a.StartTransaction();
    t.Commit();
  }

  std::optional<TempDatabase> db_;
  std::optional<Attachment> monitor_;
};

TEST_F(HandlesTest, OwnersGivingUpInAnyOrderLeaveNothingOnTheServer) {
  struct Case {
    const char* name;
    std::function<void(Attachment&)> work;
  } cases[] = {
      {"cursor read to the end, blob read",
       [](Attachment& a) {
         Transaction t = a.StartTransaction();
         ResultSet rs = a.Prepare(t, "select id, note from t order by id").Open();
         std::string note;
         while (rs.Fetch()) rs.ReadBlob(1, note);
         EXPECT_EQ(note, "onetwo");
         t.Commit();
       }},
      {"cursor left open, statement gone first",
       [](Attachment& a) {
         Transaction t = a.StartTransaction();
         std::optional<ResultSet> rs;
         {
           Statement s = a.Prepare(t, "select note from t");
           rs.emplace(s.Open());
         }
         rs->Fetch();
       }},
      {"cursor closed twice, transaction rolled back",
       [](Attachment& a) {
         Transaction t = a.StartTransaction();
         ResultSet rs = a.Prepare(t, "select id from t").Open();
         rs.Close();
         rs.Close();
         t.Rollback();
       }},
      {"owners moved from one to another",
       [](Attachment& a) {
         Transaction t1 = a.StartTransaction();
         Transaction t2 = std::move(t1);
         Statement s1 = a.Prepare(t2, "update t set note = 'x' where id = 1");
         Statement s2 = std::move(s1);
         s2.Execute();
         ResultSet r1 = a.Prepare(t2, "select note from t").Open();
         ResultSet r2 = std::move(r1);
         r2.Fetch();
       }},
      {"statement that fails to prepare, then one that fails to run",
       [](Attachment& a) {
         Transaction t = a.StartTransaction();
         EXPECT_THROW(a.Prepare(t, "select nothing from nowhere"), Error);
         Statement s = a.Prepare(t, "insert into t (id) values (1 / 0)");
         EXPECT_THROW(s.Execute(), Error);
       }},
      {"blob written through a parameter",
       [](Attachment& a) {
         Transaction t = a.StartTransaction();
         a.Prepare(t, "insert into t values (?, ?)")
             .Execute({Value(std::string("3")), Value(std::string(70000, 'b'))});
         t.Commit();
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Attachment a = db_->Attach();
    const int64_t id = ConnectionId(a);
    c.work(a);
    Flush(a);
    EXPECT_EQ(HeldBy(id), (Held{0, 0, 1}));
    a.Close();
    EXPECT_EQ(HeldBy(id), (Held{0, 0, 0}));
  }
}

TEST_F(HandlesTest, AnAttachmentLeftWithOpenHandlesReleasesThemAll) {
  int64_t id = 0;
  {
    Attachment a = db_->Attach();
    id = ConnectionId(a);
    Transaction t = a.StartTransaction();
    Statement s = a.Prepare(t, "select note from t");
    ResultSet rs = s.Open();
    rs.Fetch();
    EXPECT_EQ(HeldBy(id).transactions, 1);
    // Owners go in reverse order of making; the attachment goes last, with all of them gone.
  }
  EXPECT_EQ(HeldBy(id), (Held{0, 0, 0}));
}

}  // namespace
}  // namespace kvo::fb
