// Attachments and transactions: who commits what when a connection closes.
#include <algorithm>
#include <optional>
#include <utility>

#include "fb/fb_impl.h"
#include "platform/codepage.h"
#include "platform/metrics.h"

namespace kvo::fb {

using api::Status;

// ---------------------------------------------------------------------------------------------
// Cores

AttachmentCore::~AttachmentCore() = default;

void AttachmentCore::TakeCharSet(const std::vector<std::string>& params) {
  const std::string charSet = api::ConnectionCharSet(params);
  win1252 = charSet == "WIN1252";
  readsCp1252 = charSet.empty() || charSet == "NONE";
}

api::IAttachment* AttachmentCore::Get() const {
  if (!handle) throw Error("The database connection is closed");
  return handle.get();
}

TransactionCore::TransactionCore(std::shared_ptr<AttachmentCore> a) : attachment(std::move(a)) {}

TransactionCore::~TransactionCore() {
  auto& open = attachment->open;
  open.erase(std::remove(open.begin(), open.end(), this), open.end());
}

api::ITransaction* TransactionCore::Get() const {
  if (!handle) throw Error("The transaction is not active");
  return handle.get();
}

void TransactionCore::Commit() {
  Status status;
  Get()->commit(&status);
  // A committed transaction's interface is gone with it.
  (void)handle.release();
  Forget();
}

void TransactionCore::Rollback() {
  Status status;
  Get()->rollback(&status);
  (void)handle.release();
  Forget();
}

void TransactionCore::Adopt(api::ITransaction* returned) {
  if (returned == handle.get()) return;
  (void)handle.release();
  if (returned) {
    handle.reset(returned);
    return;
  }
  Forget();
}

void TransactionCore::Forget() {
  handle.reset();
  auto& open = attachment->open;
  open.erase(std::remove(open.begin(), open.end(), this), open.end());
}

// ---------------------------------------------------------------------------------------------
// Transaction

Transaction::Transaction(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
Transaction::Transaction(Transaction&&) noexcept = default;
Transaction& Transaction::operator=(Transaction&& other) noexcept {
  if (this != &other) {
    // The transaction this object held is abandoned like one going out of scope.
    Transaction old(std::move(*this));
    impl_ = std::move(other.impl_);
  }
  return *this;
}

Transaction::~Transaction() {
  if (!impl_ || !impl_->core->handle) return;
  try {
    if (impl_->core->attachment->handle) impl_->core->Rollback();
  } catch (...) {
    // The server rolls back what a broken connection leaves open.
  }
  impl_->core->Forget();
}

TransactionCore& Transaction::core() {
  if (!impl_) throw Error("The transaction is not active");
  return *impl_->core;
}

bool Transaction::Active() const {
  return impl_ && impl_->core->handle != nullptr;
}

void Transaction::Commit() {
  if (!impl_) throw Error("The transaction is not active");
  impl_->core->Commit();
}

void Transaction::Rollback() {
  if (!impl_) throw Error("The transaction is not active");
  impl_->core->Rollback();
}

// ---------------------------------------------------------------------------------------------
// Attachment

void AttachmentCore::Attach() {
  if (!keepKey.empty()) origin = keeper::Now();
  const keeper::LoginSlot slot(keepKey);
  api::KeepProcessSignals signals;
  try {
    Status status;
    handle.reset(
        api::Provider()->attachDatabase(&status, name.c_str(), static_cast<unsigned>(dpb.size()),
                                        reinterpret_cast<const unsigned char*>(dpb.data())));
  } catch (const Error& e) {
    if (!e.codes().empty() && e.codes().front() == isc_login)
      platform::metrics::Count(platform::metrics::Event::LoginRefused);
    throw;
  }
  platform::metrics::Count(platform::metrics::Event::Attached);
  if (!keepKey.empty()) keeper::Succeeded(keepKey);
}

Attachment::Attachment(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
Attachment::Attachment(Attachment&&) noexcept = default;
Attachment& Attachment::operator=(Attachment&& other) noexcept {
  if (this != &other) {
    Attachment old(std::move(*this));
    impl_ = std::move(other.impl_);
  }
  return *this;
}

Attachment::~Attachment() {
  try {
    Close();
  } catch (...) {
    // Close() has detached already; a failed commit is the only news lost here.
  }
}

Attachment Attachment::Open(std::string_view database, const std::vector<std::string>& params,
                            bool serverOnly, PlainText plainText) {
  api::RequireNoNul(database);
  api::ParamBlock dpb = api::DatabaseParams(params, serverOnly);
  auto impl = std::make_unique<Impl>();
  AttachmentCore& core = *impl->core;
  core.name = platform::Cp1252ToUtf8(database);
  core.keepKey = keeper::KeyOf(core.name, dpb.data(), dpb.length());
  // The same parameter lines as the attach that made it: text is read and written alike.
  core.TakeCharSet(params);
  core.marksCp1252 = plainText == PlainText::Cp1252 && api::ConnectionCharSet(params).empty();
  core.spellsText = plainText != PlainText::AsIs;
  core.dpb.assign(reinterpret_cast<const char*>(dpb.data()), dpb.length());
  if (api::IAttachment* kept = keeper::Take(core.keepKey, core.own, core.origin)) {
    core.handle.reset(kept);
    core.unchecked = true;
    platform::metrics::Count(platform::metrics::Event::KeptReused);
  } else {
    core.Attach();
  }
  return Attachment(std::move(impl));
}

Attachment Attachment::Create(std::string_view database, const std::vector<std::string>& params,
                              std::string_view charSet) {
  api::RequireNoNul(database);
  api::ParamBlock dpb = api::DatabaseParams(params, false);
  dpb.Int(isc_dpb_page_size, 8192);
  dpb.String(isc_dpb_set_db_charset, charSet);
  auto impl = std::make_unique<Impl>();
  std::string name = platform::Cp1252ToUtf8(database);
  api::KeepProcessSignals signals;
  Status status;
  impl->core->handle.reset(
      api::Provider()->createDatabase(&status, name.c_str(), dpb.length(), dpb.data()));
  impl->core->TakeCharSet(params);
  return Attachment(std::move(impl));
}

bool Attachment::IsOpen() const {
  return impl_ && impl_->core->handle != nullptr;
}

Transaction Attachment::StartTransaction() {
  AttachmentCore& core = *impl_->core;
  auto tx = std::make_shared<TransactionCore>(impl_->core);
  const bool unchecked = std::exchange(core.unchecked, false);
  try {
    Status status;
    tx->handle.reset(core.Get()->startTransaction(&status, 0, nullptr));
  } catch (const Error&) {
    if (!unchecked) throw;
    // A kept connection that broke while it waited (the server restarted, an administrator
    // ended it): nothing of the request has run yet, so a fresh attach takes its place, and its
    // own failure is the request's.
    platform::metrics::Count(platform::metrics::Event::KeptReplaced);
    core.own.Clear();
    core.handle.reset();
    core.Attach();
    Status status;
    tx->handle.reset(core.Get()->startTransaction(&status, 0, nullptr));
  }
  core.open.push_back(tx.get());
  auto impl = std::make_unique<Transaction::Impl>();
  impl->core = std::move(tx);
  return Transaction(std::move(impl));
}

void Attachment::ExecuteImmediate(Transaction& transaction, std::string_view sql) {
  TransactionCore& tx = transaction.core();
  std::string rewritten;
  sql = TextToSend(tx, sql, rewritten);
  Status status;
  tx.Adopt(impl_->core->Get()->execute(&status, tx.Get(), static_cast<unsigned>(sql.size()),
                                       sql.data(), 3, nullptr, nullptr, nullptr, nullptr));
}

void Attachment::Close() {
  if (!impl_ || !impl_->core->handle) return;
  AttachmentCore& core = *impl_->core;
  std::optional<Error> failure;
  // Commit in the order the transactions were started; each one leaves the list as it ends.
  while (!core.open.empty()) {
    TransactionCore* tx = core.open.front();
    try {
      tx->Commit();
    } catch (const Error& e) {
      if (!failure) failure = e;
      tx->Forget();
    }
  }
  if (!failure && keeper::Give(core.keepKey, core.handle, core.own, core.origin)) return;
  core.own.Clear();
  try {
    Status status;
    core.handle->detach(&status);
    (void)core.handle.release();
  } catch (const Error& e) {
    if (!failure) failure = e;
    core.handle.reset();
  }
  if (failure) throw *failure;
}

namespace {

// Rolls back every transaction still open on `core`; a rollback that fails is forgotten (the
// server rolls back what a detached connection leaves).
void RollBackAll(AttachmentCore& core) noexcept {
  while (!core.open.empty()) {
    TransactionCore* tx = core.open.front();
    try {
      tx->Rollback();
    } catch (...) {
      tx->Forget();
    }
  }
}

}  // namespace

void Attachment::CloseAfterFailure() noexcept {
  if (!impl_ || !impl_->core->handle) return;
  RollBackAll(*impl_->core);
  try {
    Close();
  } catch (...) {
    // Close() has detached already; the failure being reported is the news.
  }
}

void Attachment::Drop() {
  AttachmentCore& core = *impl_->core;
  RollBackAll(core);
  core.own.Clear();
  Status status;
  core.Get()->dropDatabase(&status);
  (void)core.handle.release();
}

std::string ConnectionCharSet(const std::vector<std::string>& params) {
  return api::ConnectionCharSet(params);
}

}  // namespace kvo::fb
