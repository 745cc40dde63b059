// One request's unit of work: the attachment it logs in with and the one transaction everything
// it runs shares. The answer to a request reports what happened to its work, so Commit() comes
// before any byte of the answer: a commit the server refuses (a trigger on transaction commit,
// a deferred constraint, a lost connection) is then answered as the failure it is. A Work that
// goes without a successful Commit() (a failure on the way) rolls back and closes, quietly.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fb/fb.h"

namespace kvo::fb {

class Work {
 public:
  // Attaches as Attachment::Open does. Throws Error.
  Work(std::string_view database, const std::vector<std::string>& params, bool serverOnly = false,
       PlainText plainText = PlainText::AsIs);
  Work(const Work&) = delete;
  Work& operator=(const Work&) = delete;
  // Without a Commit(): rolls back and closes (Attachment::CloseAfterFailure). Never throws.
  ~Work();

  // Attached, and not yet committed.
  bool IsOpen() const;
  Attachment& attachment() { return attachment_; }
  // The work's transaction, started on first use.
  Transaction& transaction();
  // Prepares `sql` in the work's transaction.
  Statement Prepare(std::string_view sql);

  // Commits the transaction (unless a COMMIT or ROLLBACK statement has ended it already), then
  // closes the attachment. Throws Error; after a failure the destructor rolls back what is left.
  void Commit();

 private:
  Attachment attachment_;
  std::optional<Transaction> transaction_;
};

}  // namespace kvo::fb
