// TTarvoIBQuery, the read query that runs its statement directly through the Firebird client or
// through the server's /sql service, chosen by its database component's multi-tier settings; and
// TIBClientDataSet, the data set of the direct route.
#pragma once

#include <array>
#include <memory>
#include <string>
#include <string_view>

#include "kvo/client/error.h"
#include "kvo/client/ib.h"
#include "kvo/client/kvo_app_dataset.h"
#include "kvo/client/tarvo.h"

namespace kvo::client {

// Runs one statement on the Firebird client and holds all its rows as its packet. Its ":name"
// markers (found by the rules of TTarvoIBQuery::RebuildParams) are bound to the parameter of
// the same name (the first one, letter case ignored) with the parameter's data type.
// What TIBClientDataSet::Open throws for a statement that returns no result set (an insert,
// update, delete or DDL): a kvo::Error like the others, whose type tells a program that the
// statement can run with Execute() instead.
class KVO_CLIENT_API ENoResultSet : public kvo::Error {
 public:
  using kvo::Error::Error;
};

class KVO_CLIENT_API TIBClientDataSet : public TClientDataSet {
 public:
  explicit TIBClientDataSet(TComponent* owner = nullptr) : TClientDataSet(owner) {}

  TIBDatabase* DBConnection = nullptr;      // not owned
  TIBTransaction* DBTransaction = nullptr;  // not owned
  std::string CommandText;

  // Starts DBTransaction when it is not active (base rule), runs CommandText, fetches every row
  // and opens on them. Throws kvo::Error: "<Name>: No database assigned", "<Name>: No
  // transaction assigned", "<Name>: Parameter 'x' not found", "<Name>: The statement returns
  // no result set" (ENoResultSet, for a statement that is no select; a select without rows
  // opens empty), or
  // the Firebird client's message. Nothing when already open.
  void Open();
  // Runs CommandText once without reading rows (an insert, update, delete or DDL), binding the
  // parameters as Open does, in DBTransaction (started when not active; the caller commits).
  // The statement reaches the server exactly as written. Throws as Open does.
  void Execute();

 private:
  struct Bound;
  Bound Bind() const;
};

class KVO_CLIENT_API TTarvoIBQuery : public TKVOAppDataSet {
 public:
  // ReadOnly := true; SQL's changes rebuild Params.
  explicit TTarvoIBQuery(TComponent* owner = nullptr);
  ~TTarvoIBQuery() override;

  // The statement. Every change made to the list rebuilds Params once (their values are lost).
  TStringList& SQL() { return sql_; }
  const TStringList& SQL() const { return sql_; }
  // Nothing when the text equals the current one (the parameters keep their values); otherwise
  // takes the lines in one change.
  void SetSQL(const TStringList& lines);

  // Choose the route; plain references, not owned.
  TIBDatabase* Database = nullptr;
  TIBTransaction* Transaction = nullptr;

  // The data set of the direct route, owned by the query.
  TIBClientDataSet& DirectDataSet() { return *directDataSet_; }

  static constexpr std::array<std::string_view, 3> PublishedProperties = {"SQL", "Database",
                                                                          "Transaction"};

  // Params := one ftUnknown/ptUnknown parameter per ":name" marker of the SQL text, in order,
  // duplicates included. Quotes (', ", `) switch a quoted section on and off; "::" is skipped.
  void RebuildParams();
  // Remote route when Database is a TTarvoIBDatabase in multi-tier mode, else the direct route
  // (connecting Database first when needed; Transaction is committed and left inactive
  // afterwards); then opens on the result or on the packet kept from before. Throws
  // "<Name>: No database assigned" without a Database, and what the route throws.
  void OpenQuery();
  // Copies the database component's settings onto the remote properties and runs RunRemote.
  void OpenRemote();

 private:
  TStringList sql_;
  std::unique_ptr<TIBClientDataSet> directDataSet_;
};

}  // namespace kvo::client
