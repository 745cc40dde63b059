// The Firebird handles behind the connection and transaction components (internal): the public
// headers show none of the Firebird layer's types.
#pragma once

#include "fb/fb.h"
#include "kvo/client/ib.h"

namespace kvo::client {

struct TIBDatabase::Connection {
  fb::Attachment attachment;
};
struct TIBTransaction::Running {
  fb::Transaction transaction;
};

namespace detail {

struct IBAccess {
  // Throw kvo::Error "Cannot perform operation -- DB is not open" when not attached.
  static fb::Attachment& Attachment(TIBDatabase& database);
  // Throws "Transaction is not active" when there is none.
  static fb::Transaction& Transaction(TIBTransaction& transaction);
};

}  // namespace detail
}  // namespace kvo::client
