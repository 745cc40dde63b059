// The Firebird connection and transaction components. TIBDatabase attaches to a database
// through the Firebird client; TIBTransaction runs transactions on it. Both are bases whose
// connect, disconnect and activation the multi-tier components change (tarvo.h).
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "kvo/client/classes.h"

namespace kvo::client {

class TIBDatabase;
namespace detail {
struct IBAccess;  // the library's own way to the Firebird handles
}

// Something attached to a connection (a data set) that hears when it opens and before it
// closes. A client and its database unlink themselves from each other when either is destroyed.
class KVO_CLIENT_API TDatabaseClient {
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

class KVO_CLIENT_API TIBDatabase : public TComponent {
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

  // Whether the direct route's attachment is open.
  bool Attached() const;

 protected:
  // Attaches to DatabaseName with Params.
  virtual void ConnectCore();
  // Detaches; what is still open on the attachment is committed first.
  virtual void DisconnectCore();
  // Whether attached.
  virtual bool ConnectedCore() const;

 private:
  friend struct detail::IBAccess;
  struct Connection;
  std::unique_ptr<Connection> connection_;
  std::vector<TDatabaseClient*> clients_;
};

class KVO_CLIENT_API TIBTransaction : public TComponent {
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

 private:
  friend struct detail::IBAccess;
  struct Running;
  std::unique_ptr<Running> transaction_;
};

}  // namespace kvo::client
