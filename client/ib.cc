// The Firebird connection and transaction components.
#include <algorithm>

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
  attachment_.reset();
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

fb::Attachment& TIBDatabase::Attachment() {
  if (!Attached()) throw Error("Cannot perform operation -- DB is not open");
  return *attachment_;
}

bool TIBDatabase::Attached() const {
  return attachment_ && attachment_->IsOpen();
}

void TIBDatabase::ConnectCore() {
  attachment_ = std::make_unique<fb::Attachment>(
      fb::Attachment::Open(DatabaseName, Params.Lines(), ServerOnly));
}

void TIBDatabase::DisconnectCore() {
  if (!attachment_) return;
  std::unique_ptr<fb::Attachment> attachment = std::move(attachment_);
  attachment->Close();
}

bool TIBDatabase::ConnectedCore() const {
  return Attached();
}

// ---------------------------------------------------------------------------------------------

TIBTransaction::TIBTransaction(TComponent* owner) : TComponent(owner) {}
TIBTransaction::~TIBTransaction() = default;

bool TIBTransaction::InTransaction() const {
  return transaction_ && transaction_->Active();
}

void TIBTransaction::StartTransaction() {
  if (InTransaction()) throw Error("Transaction is active");
  if (!DefaultDatabase) throw Error("No database assigned to the transaction");
  transaction_ =
      std::make_unique<fb::Transaction>(DefaultDatabase->Attachment().StartTransaction());
}

void TIBTransaction::Commit() {
  if (!InTransaction()) throw Error("Transaction is not active");
  std::unique_ptr<fb::Transaction> transaction = std::move(transaction_);
  transaction->Commit();
}

void TIBTransaction::Rollback() {
  if (!InTransaction()) throw Error("Transaction is not active");
  std::unique_ptr<fb::Transaction> transaction = std::move(transaction_);
  transaction->Rollback();
}

void TIBTransaction::SetActive(bool value) {
  if (value && !InTransaction()) {
    StartTransaction();
  } else if (!value && InTransaction()) {
    Rollback();
  }
}

fb::Transaction& TIBTransaction::Handle() {
  if (!InTransaction()) throw Error("Transaction is not active");
  return *transaction_;
}

}  // namespace kvo::client
