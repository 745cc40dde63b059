// The Firebird connection and transaction components. TIBDatabase attaches to a database
// through the Firebird client; TIBTransaction runs transactions on it. Both are bases whose
// connect, disconnect and activation the multi-tier components change (tarvo.h).
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "kvo/client/classes.h"

namespace kvo::fb {
class Attachment;
class Transaction;
}  // namespace kvo::fb

namespace kvo::client {

class TIBDatabase;

// Something attached to a connection (a data set) that hears when it opens and before it
// closes. A client and its database unlink themselves from each other when either is destroyed.
class TDatabaseClient {
 public:
  TDatabaseClient() = default;
  TDatabaseClient(const TDatabaseClient&) = delete;
  TDatabaseClient& operator=(const TDatabaseClient&) = delete;
  virtual ~TDatabaseClient();
  virtual void DatabaseConnected(TIBDatabase&) {}
  virtual void DatabaseDisconnecting(TIBDatabase&) {}

 private:
  friend class TIBDatabase;
  TIBDatabase* linked_ = nullptr;
};

class TIBDatabase : public TComponent {
 public:
  using TNotifyEvent = std::function<void(TIBDatabase&)>;

  explicit TIBDatabase(TComponent* owner = nullptr);
  // Disconnects (errors are swallowed: destructors never throw).
  ~TIBDatabase() override;

  // The database path as the Firebird client takes it (a file path, or server name, ":", path).
  std::string DatabaseName;
  // Connection parameters as name=value lines: "user_name", "password", "lc_ctype",
  // "sql_role_name". SQL dialect 3 always.
  TStringList Params;
  // Kept for programs that set it; this library has no login dialog, so the connection always
  // uses Params as they stand.
  bool LoginPrompt = false;
  // True: the attach goes through a database server even for a plain file path, never through
  // the embedded engine (which does not check the password). A program that attaches with other
  // people's logins sets it.
  bool ServerOnly = false;

  TNotifyEvent BeforeConnect, AfterConnect, BeforeDisconnect, AfterDisconnect;

  // ConnectedCore().
  bool Connected() const { return ConnectedCore(); }
  // Nothing when `value` equals Connected(). True: BeforeConnect, ConnectCore(), the clients'
  // DatabaseConnected, AfterConnect. False: BeforeDisconnect, the clients'
  // DatabaseDisconnecting, DisconnectCore(), AfterDisconnect. Failures of the steps propagate
  // (the Firebird client's message unchanged) and end the sequence there.
  void SetConnected(bool value);
  void Open() { SetConnected(true); }
  void Close() { SetConnected(false); }

  void AddClient(TDatabaseClient& client);
  void RemoveClient(TDatabaseClient& client);

  // The attachment of the direct route (for the library's transactions and data sets). Throws
  // kvo::Error "Cannot perform operation -- DB is not open" when not attached.
  fb::Attachment& Attachment();
  bool Attached() const;

 protected:
  // Attaches to DatabaseName with Params.
  virtual void ConnectCore();
  // Detaches; what is still open on the attachment is committed first.
  virtual void DisconnectCore();
  // Whether attached.
  virtual bool ConnectedCore() const;

 private:
  std::unique_ptr<fb::Attachment> attachment_;
  std::vector<TDatabaseClient*> clients_;
};

class TIBTransaction : public TComponent {
 public:
  explicit TIBTransaction(TComponent* owner = nullptr);
  // Rolls back a transaction still active (never throws).
  ~TIBTransaction() override;

  // Not owned; the database must outlive the transaction's use of it.
  TIBDatabase* DefaultDatabase = nullptr;

  bool InTransaction() const;
  // Starts a transaction with the server's default parameters on DefaultDatabase, which must be
  // connected. Throws kvo::Error "Transaction is active", "No database assigned to the
  // transaction", "Cannot perform operation -- DB is not open", or the client's failure.
  void StartTransaction();
  // Throw "Transaction is not active" when there is none.
  void Commit();
  void Rollback();

  // The base activation rule: true starts a transaction when none is active; false rolls back
  // an active one; otherwise nothing happens.
  bool Active() const { return InTransaction(); }
  void SetActive(bool value);

  // The running transaction (for the library's data sets). Throws "Transaction is not active".
  fb::Transaction& Handle();

 private:
  std::unique_ptr<fb::Transaction> transaction_;
};

}  // namespace kvo::client
