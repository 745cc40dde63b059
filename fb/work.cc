#include "fb/work.h"

namespace kvo::fb {

Work::Work(std::string_view database, const std::vector<std::string>& params, bool serverOnly,
           PlainText plainText)
    : attachment_(Attachment::Open(database, params, serverOnly, plainText)) {}

Work::~Work() {
  // The transaction object goes after this, and finds its transaction already ended.
  attachment_.CloseAfterFailure();
}

bool Work::IsOpen() const {
  return attachment_.IsOpen();
}

Transaction& Work::transaction() {
  if (!transaction_) transaction_.emplace(attachment_.StartTransaction());
  return *transaction_;
}

Statement Work::Prepare(std::string_view sql) {
  return attachment_.Prepare(transaction(), sql);
}

void Work::Commit() {
  if (transaction_ && transaction_->Active()) transaction_->Commit();
  attachment_.Close();
}

}  // namespace kvo::fb
