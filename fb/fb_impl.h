// The insides shared by the layer's classes: who holds which client handle, and the row layout
// read from a message metadata.
//
// An attachment's handle lives in an AttachmentCore shared by everything made from it, so that
// a transaction, statement or result set that outlives its Attachment object finds the
// attachment closed instead of freed. The core knows the transactions still open on it, which
// Close() commits.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "fb/fb.h"
#include "fb/fb_api.h"
#include "platform/unique_fd.h"

namespace kvo::fb {

struct TransactionCore;

namespace keeper {
// What a kept attachment must be compared with before it serves again: when it attached, and
// the host's drop file as it was just before (fb/keeper.h).
struct Origin {
  std::chrono::steady_clock::time_point attached{};
  std::string stamp;
};
}  // namespace keeper

// The character sets of a database's text: its default set, and whether it holds text
// columns (or procedure parameters) of a set that a literal spelt for the default set does not
// meet faithfully (a UTF8 column in a WIN1252 database, a NONE column in a UTF8 one).
struct DatabaseText {
  unsigned charSet = 0;
  bool mixed = false;
};

// A string literal of the statement standing as a parameter while the server describes it: its
// place among the parameters, and its value (Windows-1252).
struct LiteralParam {
  unsigned index = 0;
  std::string value;
};

// Statements the layer prepares for its own use on a connection. They live as long as the
// connection, kept attachments included (fb/keeper.cc), since preparing is most of their cost.
struct OwnStatements {
  // By their text, the most recently prepared last; at most kMax of them.
  static constexpr size_t kMax = 8;
  std::vector<std::pair<std::string, api::Ref<api::IStatement>>> prepared;

  // What the layer learned of the database's text on this connection, asked once the first
  // statement needs it (fb/cp1252_literals.cc); it stays with the connection as the statements
  // do, so a kept attachment does not ask again.
  std::optional<DatabaseText> text;

  // Frees them; the connection must still be attached (or already broken).
  void Clear() noexcept { prepared.clear(); }
};

struct AttachmentCore {
  api::Ref<api::IAttachment> handle;   // null once detached
  OwnStatements own;                   // prepared on `handle`, freed before it goes
  std::vector<TransactionCore*> open;  // transactions started and not yet ended
  std::string keepKey;                 // where Close() may hand it (fb/keeper.h); empty: never
  keeper::Origin origin;               // of the connection in `handle`, while keepKey is set
  std::string name;                    // the database as the client library takes it (UTF-8)
  std::string dpb;                     // the attach's parameter block
  // Taken from the keeper and not yet used: the first transaction finds out whether the
  // connection still works, and attaches anew when it does not.
  bool unchecked = false;
  // No connection character set (or NONE): text arrives in each column's own set, and reads
  // convert it to Windows-1252 (Layout::ReadAsCp1252).
  bool readsCp1252 = false;
  // The connection character set is WIN1252: the server converts statement text to each
  // column's set, and takes the five bytes the code page leaves undefined for U+0000.
  bool win1252 = false;
  // No connection character set, yet statement text and text values are Windows-1252 and go
  // to the server marked as such (Attachment::Open with PlainText::Cp1252).
  bool marksCp1252 = false;
  // Statement text is Windows-1252, spelt for the database (PlainText other than AsIs).
  bool spellsText = false;

  ~AttachmentCore();
  void Attach();                  // attaches `name` with `dpb` as `handle`
  api::IAttachment* Get() const;  // throws when detached
  // Sets the flags above from the attach's parameter lines.
  void TakeCharSet(const std::vector<std::string>& params);
};

struct TransactionCore : std::enable_shared_from_this<TransactionCore> {
  std::shared_ptr<AttachmentCore> attachment;
  api::Ref<api::ITransaction> handle;  // null once committed or rolled back

  explicit TransactionCore(std::shared_ptr<AttachmentCore> a);
  ~TransactionCore();
  api::ITransaction* Get() const;  // throws when no longer active
  void Commit();
  void Rollback();
  // The handle ended by the attachment's own close.
  void Forget();
  // Takes what an execution hands back: a statement such as COMMIT or ROLLBACK ends the
  // transaction and the client has already released our reference (the old pointer may even
  // name a new transaction by now), so it must never be used again.
  void Adopt(api::ITransaction* returned);
};

struct Attachment::Impl {
  std::shared_ptr<AttachmentCore> core = std::make_shared<AttachmentCore>();
};

struct Transaction::Impl {
  std::shared_ptr<TransactionCore> core;
};

// The keeper's side of Attachment::Open and Close (fb/keeper.h).
namespace keeper {
// The key of an attach with these name and parameter block bytes; empty while keeping is off.
std::string KeyOf(std::string_view database, const unsigned char* dpb, unsigned length);
// One of the host's login slots, held for an attach of `key` (fb/keeper.h, loginSlots); nothing
// for a key that attached here before, or when keeping or the bound is off. Throws fb::Error
// when every slot is taken.
class LoginSlot {
 public:
  explicit LoginSlot(const std::string& key);

 private:
  platform::UniqueFd lock_;  // the slot's file, locked; the lock goes with the descriptor
};
// The attach of `key` succeeded: later ones need no login slot.
void Succeeded(const std::string& key) noexcept;
// The origin of an attach that starts now; read before the attach, so that a drop signalled
// while it runs is never missed.
Origin Now() noexcept;
// A kept attachment of that key, now the caller's, with the statements prepared on it moved to
// `own` and its origin to `origin`; nullptr when none.
api::IAttachment* Take(const std::string& key, OwnStatements& own, Origin& origin) noexcept;
// Takes `handle` (no transaction open on it), `own` and `origin` when keeping is on; false
// leaves them to the caller.
bool Give(const std::string& key, api::Ref<api::IAttachment>& handle, OwnStatements& own,
          Origin& origin) noexcept;
}  // namespace keeper

// The columns of a message and where each value sits in its buffer.
struct Layout {
  api::Ref<api::IMessageMetadata> metadata;
  std::vector<Column> columns;
  std::vector<unsigned> offsets, nullOffsets;
  unsigned length = 0;

  // Per column, set by ReadAsCp1252: the character set its text arrives in when the program
  // converts it (0: none, the bytes are read as they are), and its storage length in bytes.
  std::vector<unsigned> convertFrom, storageLengths;

  // Reads the columns of `metadata`, which it keeps; unsupported types throw Error.
  explicit Layout(api::Ref<api::IMessageMetadata> metadata);

  // Output columns read as Windows-1252: text columns of other character sets are converted
  // value by value, their Column::length becomes the declared length in characters, and a
  // name that the server gives as UTF-8 (a field's own name) is converted too.
  void ReadAsCp1252();
};

// A row of values laid out by a Layout, with what reading a blob of it needs.
struct Row {
  const Layout* layout = nullptr;
  std::vector<int64_t> buffer;  // 8-byte aligned storage of the message
  std::shared_ptr<TransactionCore> transaction;
  // Converted text of the current row's columns, made on the first read (GetText's views
  // point here).
  mutable std::vector<std::optional<std::string>> converted;

  Row(const Layout& l, std::shared_ptr<TransactionCore> t);
  unsigned char* data() { return reinterpret_cast<unsigned char*>(buffer.data()); }
  const unsigned char* data() const {
    return reinterpret_cast<const unsigned char*>(buffer.data());
  }

  // Before the buffer takes the next row: what was converted from this one goes.
  void Refilled();

  bool IsNull(size_t column) const;
  int64_t GetInt64(size_t column) const;
  double GetDouble(size_t column) const;
  std::string_view GetText(size_t column) const;
  Date GetDate(size_t column) const;
  Time GetTime(size_t column) const;
  Timestamp GetTimestamp(size_t column) const;
  bool GetBool(size_t column) const;
  void ReadBlob(size_t column, std::string& out, size_t stopAbove = SIZE_MAX) const;
  std::string GetAsText(size_t column) const;

 private:
  const Column& Check(size_t column, std::initializer_list<SqlType> types, const char* what) const;
};

// Character sets by Firebird's ids (fb/charset.cc): whether the program converts text of the
// set to Windows-1252, the longest character in bytes (1 for unknown sets), and the conversion
// (each character Windows-1252 lacks as "?"; unknown sets unchanged).
inline constexpr unsigned kCharSetNone = 0, kCharSetOctets = 1, kCharSetWin1252 = 53;
bool NeedsConversion(unsigned charSet);
unsigned CharSetMaxBytes(unsigned charSet);
std::string ToCp1252(unsigned charSet, std::string_view bytes);

// The statement text as it goes to the server: throws Error for text that cannot reach it
// exactly as given, and rewrites what is beyond ASCII into `rewritten` (SpellText) on a
// connection of the program's own (none, NONE or WIN1252) that spells text; in a mixed
// database the literals are first described by the server (one more prepare).
std::string_view TextToSend(TransactionCore& tx, std::string_view sql, std::string& rewritten);
// The database's text as the connection of `tx` sees it, asked once per connection.
const DatabaseText& LearnDatabaseText(TransactionCore& tx);
// The statement with its quoted names and string literals beyond ASCII spelt so that they mean
// what the caller wrote (Windows-1252) whatever the sets of what they meet
// (fb/cp1252_literals.cc). On a connection without a set, quoted names go as UTF-8, as the
// server keeps names. A literal that names no set of its own goes as _UTF8 '...' in a UTF8
// database; in a NONE or WIN1252 one as written, or _WIN1252 '...' where `marksCp1252`. In a
// mixed database (DatabaseText) such a literal of a statement that can take parameters first
// goes as a parameter, its place in `literals`, for the server to describe; given
// `literalSets`, the sets described in that order, it goes as written where it meets NONE or
// OCTETS text and as _UTF8 '...' elsewhere. Where nothing was described (an empty list, a PSQL
// body) it goes as _WIN1252 '...', which is right or fails aloud; a definition keeps the
// spelling of the database's set. `learn` gives the database's text and is called only when a
// literal needs it. Throws Error for a literal or name holding a byte
// Windows-1252 leaves undefined.
std::string SpellText(std::string_view sql, bool namesAsUtf8, bool marksCp1252,
                      const std::function<const DatabaseText&()>& learn,
                      std::vector<LiteralParam>* literals,
                      const std::vector<unsigned>* literalSets);
// Throws Error "<what> holds the byte 0x81, which is no character of Windows-1252; nothing was
// run" for text holding one of the five bytes the code page leaves undefined: the server takes
// them for U+0000 when it converts Windows-1252 text.
void RefuseUndefinedCp1252(std::string_view text, std::string_view what);

// Text forms shared with the rest of the layer.
std::string FormatScaled(int64_t value, int scale);
std::string FormatDate(const Date& d);
std::string FormatTime(const Time& t);
const char* TypeName(SqlType type);

}  // namespace kvo::fb
