// The base of the tests that run the client against the real stack: a throwaway database on
// the private Firebird server, the server's URL, database components on either route, and a
// recording user interface.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "client/tests/recording_ui.h"
#include "kvo/client/kvo_client.h"
#include "tests/support/fb_testdb.h"

namespace kvo::testing {

class RoutesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    KVO_REQUIRE_FIREBIRD();
    KVO_REQUIRE_ENV(url, "KVO_HTTP_URL");
    url_ = url;
    db_ = std::make_unique<TempDatabase>();
  }

  // A database component on the chosen route, reading no settings file.
  void Configure(client::TTarvoIBDatabase& db, bool multiTier, bool compressed = false) {
    db.UseRegProps = false;
    db.TarvoMultiTierProps().Active = multiTier;
    db.TarvoMultiTierProps().URL = url_;
    db.TarvoMultiTierProps().Compressed = compressed;
    db.DatabaseName = db_->connection();
    db.Params.Add("user_name=" + db_->user());
    db.Params.Add("password=" + db_->password());
  }

  // A query with a database and a transaction of its own.
  struct RouteQuery {
    client::TTarvoIBDatabase db;
    client::TTarvoIBTransaction tx;
    client::TTarvoIBQuery q;
  };

  // Wires `r` on `route`: 0 direct, 1 remote with XML answers, 2 remote with compressed ones.
  void Wire(RouteQuery& r, int route) {
    Configure(r.db, route > 0, route == 2);
    r.tx.DefaultDatabase = &r.db;
    r.q.Database = &r.db;
    r.q.Transaction = &r.tx;
  }

  // The rows of an open data set, one text a row: NAME=value; for each column.
  static std::vector<std::string> Rows(client::TClientDataSet& q) {
    std::vector<std::string> rows;
    for (q.First(); !q.Eof(); q.Next()) {
      std::string row;
      for (size_t i = 0; i < q.FieldCount(); ++i) {
        client::TField& f = q.Fields(i);
        row += f.FieldName() + "=" + (f.IsNull() ? "NULL" : f.AsString()) + ";";
      }
      rows.push_back(row);
    }
    return rows;
  }

  RecordingUserInterface ui_;
  client::TScopedUserInterface scope_{ui_};
  std::string url_;
  std::unique_ptr<TempDatabase> db_;
};

}  // namespace kvo::testing
