// The Firebird connection and transaction components.
#include <algorithm>

#include "client/ib_access.h"
#include "fb/fb.h"
#include "kvo/client/ib.h"

namespace kvo::client {

TDatabaseClient::~TDatabaseClient() {
  if (linked_) linked_->RemoveClient(*this);
}

TIBDatabase::TIBDatabase(TComponent* owner) : TComponent(owner) {}

TIBDatabase::~TIBDatabase() {
  try {
    SetConnected(false);
  } catch (...) {
    // A destructor has nobody to report to; the attachment is closed all the same.
  }
  connection_.reset();
  for (TDatabaseClient* client : clients_) client->linked_ = nullptr;
}

void TIBDatabase::SetConnected(bool value) {
  if (value == Connected()) return;
  if (value) {
    if (BeforeConnect) BeforeConnect(*this);
    ConnectCore();
    for (TDatabaseClient* client : std::vector(clients_)) client->DatabaseConnected(*this);
    if (AfterConnect) AfterConnect(*this);
  } else {
    if (BeforeDisconnect) BeforeDisconnect(*this);
    for (TDatabaseClient* client : std::vector(clients_)) client->DatabaseDisconnecting(*this);
    DisconnectCore();
    if (AfterDisconnect) AfterDisconnect(*this);
  }
}

void TIBDatabase::AddClient(TDatabaseClient& client) {
  if (client.linked_ == this) return;
  if (client.linked_) client.linked_->RemoveClient(client);
  clients_.push_back(&client);
  client.linked_ = this;
}

void TIBDatabase::RemoveClient(TDatabaseClient& client) {
  std::erase(clients_, &client);
  if (client.linked_ == this) client.linked_ = nullptr;
}

fb::Attachment& detail::IBAccess::Attachment(TIBDatabase& database) {
  if (!database.Attached()) throw Error("Cannot perform operation -- DB is not open");
  return database.connection_->attachment;
}

bool TIBDatabase::Attached() const {
  return connection_ && connection_->attachment.IsOpen();
}

void TIBDatabase::ConnectCore() {
  connection_ = std::make_unique<Connection>(Connection{
      fb::Attachment::Open(DatabaseName, Params.Lines(), ServerOnly, fb::PlainText::Cp1252)});
}

void TIBDatabase::DisconnectCore() {
  if (!connection_) return;
  std::unique_ptr<Connection> connection = std::move(connection_);
  connection->attachment.Close();
}

bool TIBDatabase::ConnectedCore() const {
  return Attached();
}

// ---------------------------------------------------------------------------------------------

TIBTransaction::TIBTransaction(TComponent* owner) : TComponent(owner) {}
TIBTransaction::~TIBTransaction() = default;

bool TIBTransaction::InTransaction() const {
  return transaction_ && transaction_->transaction.Active();
}

void TIBTransaction::StartTransaction() {
  if (InTransaction()) throw Error("Transaction is active");
  if (!DefaultDatabase) throw Error("No database assigned to the transaction");
  transaction_ = std::make_unique<Running>(
      Running{detail::IBAccess::Attachment(*DefaultDatabase).StartTransaction()});
}

void TIBTransaction::Commit() {
  if (!InTransaction()) throw Error("Transaction is not active");
  std::unique_ptr<Running> running = std::move(transaction_);
  running->transaction.Commit();
}

void TIBTransaction::Rollback() {
  if (!InTransaction()) throw Error("Transaction is not active");
  std::unique_ptr<Running> running = std::move(transaction_);
  running->transaction.Rollback();
}

void TIBTransaction::SetActive(bool value) {
  if (value && !InTransaction()) {
    StartTransaction();
  } else if (!value && InTransaction()) {
    Rollback();
  }
}

fb::Transaction& detail::IBAccess::Transaction(TIBTransaction& transaction) {
  if (!transaction.InTransaction()) throw Error("Transaction is not active");
  return transaction.transaction_->transaction;
}

}  // namespace kvo::client
