// The Firebird layer: a thin RAII layer over the Firebird 3 client (OO API). This header shows
// only our own types; fb/fb_api.h (internal) is the one place that includes firebird/Interface.h.
//
// Every failure of the client is raised as kvo::fb::Error whose message is the client's own
// text (IUtil::formatStatus, lines joined as the client joins them), passed on unchanged.
//
// Ownership: an Attachment owns its handle; a Transaction, Statement or ResultSet refers to the
// attachment it came from, which must outlive it. Closing an attachment commits every
// transaction still open on it; only an explicit Rollback() rolls back. A Transaction destroyed
// while still active (abandoned by an exception) is rolled back. Destructors never throw.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "platform/error.h"

namespace kvo::fb {

class Error : public kvo::Error {
 public:
  Error(const std::string& message, std::vector<intptr_t> codes = {})
      : kvo::Error(message, "EIBInterBaseError"), codes_(std::move(codes)) {}
  // The status vector's error codes (gds codes), first the main one.
  const std::vector<intptr_t>& codes() const { return codes_; }

 private:
  std::vector<intptr_t> codes_;
};

// Storage types of result and parameter columns (Firebird 3).
enum class SqlType {
  Char,      // CHAR(n): fixed length, blank padded
  VarChar,   // VARCHAR(n)
  SmallInt,  // 16-bit; with a negative scale NUMERIC/DECIMAL
  Integer,   // 32-bit; idem
  BigInt,    // 64-bit; idem
  Float,     // 32-bit IEEE
  Double,    // 64-bit IEEE
  Date,
  Time,
  Timestamp,
  Boolean,
  Blob,  // subType 1 = text, anything else binary
};

struct Column {
  std::string name;      // the column's alias as the select list names it (may repeat)
  std::string field;     // the underlying field name, empty for expressions
  std::string relation;  // the table or view it comes from, empty for expressions
  std::string owner;
  SqlType type = SqlType::Integer;
  int subType = 0;       // BLOB subtype; for exact numerics 1 = NUMERIC, 2 = DECIMAL
  int scale = 0;         // 0 or negative (digits after the point)
  unsigned length = 0;   // bytes of CHAR/VARCHAR data (not counting the VARCHAR prefix)
  unsigned charSet = 0;  // character set id
  bool nullable = true;
  // Declared precision of NUMERIC/DECIMAL when the system tables give it for the column's
  // source field, else 0. Filled on request (Statement::LookupPrecisions).
  int precision = 0;

  // NUMERIC or DECIMAL: an exact numeric with digits after the point or declared as such, the
  // only kind of column with a declared precision.
  bool IsNumeric() const {
    const bool exact =
        type == SqlType::SmallInt || type == SqlType::Integer || type == SqlType::BigInt;
    return exact && (scale < 0 || subType == 1 || subType == 2);
  }
};

struct Date {
  int year = 1, month = 1, day = 1;
  bool operator==(const Date&) const = default;
};
struct Time {
  int hour = 0, minute = 0, second = 0;
  int fraction = 0;  // 1/10000 s
  bool operator==(const Time&) const = default;
};
struct Timestamp {
  Date date;
  Time time;
  bool operator==(const Timestamp&) const = default;
};

// An exact number: value * 10^scale (scale <= 0), as SMALLINT/INTEGER/BIGINT/NUMERIC carry it.
struct Scaled {
  int64_t value = 0;
  int scale = 0;
  bool operator==(const Scaled&) const = default;
};

// A parameter value. std::monostate is SQL NULL. Text is bytes in the attachment's character
// set; Bytes is binary data for BLOB parameters. The layer converts a value to the parameter's
// declared type the way the server converts literals (text into a number column, and so on).
struct Bytes {
  std::string data;
};
using Value =
    std::variant<std::monostate, bool, Scaled, double, std::string, Date, Time, Timestamp, Bytes>;

class Attachment;
class Transaction;
class Statement;
struct TransactionCore;
struct DatabaseText;

// An open cursor. Values are read in place from the fetched row; text views stay valid until
// the next Fetch().
class ResultSet {
 public:
  ResultSet(ResultSet&&) noexcept;
  ResultSet& operator=(ResultSet&&) noexcept;
  ~ResultSet();

  // The statement's output columns: the same list as Statement::OutputColumns, precisions
  // included once looked up.
  const std::vector<Column>& Columns() const;
  // Moves to the next row; false after the last one.
  bool Fetch();

  bool IsNull(size_t column) const;
  // SMALLINT, INTEGER, BIGINT (also NUMERIC/DECIMAL: the unscaled integer; see Column::scale).
  int64_t GetInt64(size_t column) const;
  // FLOAT and DOUBLE PRECISION.
  double GetDouble(size_t column) const;
  // CHAR (with its padding) and VARCHAR bytes.
  std::string_view GetText(size_t column) const;
  Date GetDate(size_t column) const;
  Time GetTime(size_t column) const;
  Timestamp GetTimestamp(size_t column) const;
  bool GetBool(size_t column) const;
  // The whole BLOB of the current row; appended to `out` (which is not cleared). Reading stops
  // early, leaving what came so far, once `out` holds more than `stopAbove` bytes.
  void ReadBlob(size_t column, std::string& out, size_t stopAbove = SIZE_MAX) const;
  // Any column as text, the way the client components show it (numbers with their scale,
  // dates yyyy-mm-dd, ...); NULL as the empty text.
  std::string GetAsText(size_t column) const;

  void Close();

 private:
  friend class Statement;
  struct Impl;
  explicit ResultSet(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

class Statement {
 public:
  enum class Kind {
    Select,
    SelectForUpdate,
    Insert,
    Update,
    Delete,
    Ddl,
    ExecProcedure,
    StartTransaction,
    Commit,
    Rollback,
    Other
  };

  Statement(Statement&&) noexcept;
  Statement& operator=(Statement&&) noexcept;
  ~Statement();

  // The statement type as the server reports it (an INSERT ... RETURNING is ExecProcedure).
  Kind kind() const;
  // True when executing the statement opens a cursor (a select, also one that does not begin
  // with the word, such as a common table expression).
  bool HasCursor() const;
  const std::vector<Column>& InputColumns() const;
  const std::vector<Column>& OutputColumns() const;

  // Fills Column::precision of exact-numeric output columns from RDB$FIELDS where the column's
  // source is a table field; leaves 0 elsewhere.
  void LookupPrecisions(Transaction& transaction);

  // Opens the cursor with the parameters bound in order. Throws Error.
  ResultSet Open(const std::vector<Value>& params = {});
  // Executes a statement without a cursor (an EXECUTE PROCEDURE or INSERT ... RETURNING gives
  // its single output row back as text values; NULL as nullopt).
  std::vector<std::optional<std::string>> Execute(const std::vector<Value>& params = {});

 private:
  friend class Attachment;
  friend const DatabaseText& LearnDatabaseText(TransactionCore& tx);
  struct Impl;
  explicit Statement(std::unique_ptr<Impl> impl);
  // `own`: a statement of the layer's own, prepared once per connection (OwnStatements).
  static Statement Make(std::shared_ptr<TransactionCore> transaction, std::string_view sql,
                        bool own = false);
  std::unique_ptr<Impl> impl_;
};

class Transaction {
 public:
  Transaction(Transaction&&) noexcept;
  Transaction& operator=(Transaction&&) noexcept;
  // Rolls back when still active and the attachment is open; never throws.
  ~Transaction();

  bool Active() const;
  void Commit();
  void Rollback();

 private:
  friend class Attachment;
  friend class Statement;
  struct Impl;
  explicit Transaction(std::unique_ptr<Impl> impl);
  TransactionCore& core();
  std::unique_ptr<Impl> impl_;
};

// The longest statement text Firebird 3 prepares, in bytes, not counting a last ";" followed
// by nothing but blanks.
inline constexpr size_t kMaxStatementBytes = 10485760;

// The Error the server raises for a statement text longer than kMaxStatementBytes, or nullopt.
// The server sends its refusal only after the whole text has reached it, so every route checks
// here first: preparing and executing in this layer, and the client's posting of /sql.
std::optional<Error> StatementTooLong(std::string_view sql);

// The longest user name the Firebird 3 server takes: 31 bytes of UTF-8, not counting the double
// quotes around a quoted name. A longer one, in the parameters of an attach or a services
// attach or in a user record that the services manager is asked to write, ends the server
// process (an assertion in its authentication fails), whatever the password and whoever sends
// it. This layer never sends one.
inline constexpr size_t kMaxUserNameBytes = 31;

// True when the server can take `userName` (Windows-1252, as callers post it).
bool UserNameFitsServer(std::string_view userName);

// The Error with which the server refuses a login it does not know (gds code 335544472, the
// text of a wrong user name or password). The layer raises it, without contacting anything,
// for a login that cannot exist: a user name longer than kMaxUserNameBytes, or a NUL byte in
// the database or service name or in any parameter value (the client would cut the text
// there, or pass bytes the server reads as C text, so what was checked would not be what is
// attached).
Error UnknownLogin();

// One connection parameter of a "name=value" line.
struct ConnectionParam {
  enum Name { UserName, Password, LcCtype, SqlRoleName } name = UserName;
  std::string value;
};

// The parameters of "name=value" lines. Names are "user_name", "password", "lc_ctype" and
// "sql_role_name", in any letter case, also with the "isc_dpb_" prefix of the client's
// constants; blanks around the name and around the value do not count, blank lines are
// skipped, a line without "=" has the empty value. No other parameter ever reaches the server,
// since one could change which database is reached or how the login is checked: with
// `refuseUnknown` another name throws Error `Unknown connection parameter "<name>"`, without
// it the line is skipped.
std::vector<ConnectionParam> ParseConnectionParams(const std::vector<std::string>& lines,
                                                   bool refuseUnknown = true);

// How an attachment whose parameter lines name no character set (nor NONE) takes statement
// text and text values. Reads are the same either way: each column arrives in its own set and
// is converted to Windows-1252 ("?" for a character the code page lacks).
enum class PlainText {
  // As they are, of set NONE: a UTF8 column refuses text beyond ASCII ("Malformed string").
  AsIs,
  // Statement text is Windows-1252 and means what it says in every database (also on a WIN1252
  // connection): quoted names go as UTF-8, as the server keeps them; a string literal beyond
  // ASCII that names no set goes as _UTF8 '...' in a UTF8 database, as written in a NONE or
  // WIN1252 one, and, where the database holds text of other sets too, as a parameter that the
  // server describes by what it meets (refused where it meets nothing whose set is known).
  // Text values of parameters go as they are.
  Cp1252Statements,
  // Windows-1252, as Cp1252Statements, and in a NONE or WIN1252 database string literals beyond
  // ASCII that name no set of their own go as _WIN1252 '...', text values of a parameter of a real
  // set travel as WIN1252, and the
  // server converts both to each column's own set, as on a WIN1252 connection; NONE and OCTETS
  // columns get the bytes as they are. Literals and values holding a byte the code page
  // leaves undefined are refused.
  Cp1252,
};

class Attachment {
 public:
  // Attaches to `database` (a file path, or server name, colon and path, as the client takes
  // it) with the parameter lines that ParseConnectionParams takes (other names skipped). SQL
  // dialect 3. The database name and the values are Windows-1252 and travel as UTF-8
  // (isc_dpb_utf8_filename). Throws Error.
  // With `serverOnly` (or the process-wide guard, see RequireServerAttach) the attach goes
  // through a database server even for a plain file path.
  // `plainText` applies when the lines name no character set.
  static Attachment Open(std::string_view database, const std::vector<std::string>& params,
                         bool serverOnly = false, PlainText plainText = PlainText::AsIs);
  // Creates a database (for tests and the demo): page size 8192, the given character set.
  static Attachment Create(std::string_view database, const std::vector<std::string>& params,
                           std::string_view charSet = "WIN1252");

  Attachment(Attachment&&) noexcept;
  Attachment& operator=(Attachment&&) noexcept;
  // Close() without throwing.
  ~Attachment();

  bool IsOpen() const;
  // Starts a transaction with the server's default parameters.
  Transaction StartTransaction();
  Statement Prepare(Transaction& transaction, std::string_view sql);
  void ExecuteImmediate(Transaction& transaction, std::string_view sql);

  // Commits every transaction still open on it, then detaches. Throws Error (still detached).
  void Close();
  // For failure paths: rolls back every transaction still open on it, then detaches, so that a
  // failed request leaves none of its writes behind. Never throws: the failure being reported
  // must not be replaced by one of the clean-up.
  void CloseAfterFailure() noexcept;
  // Drops the database (tests).
  void Drop();

 private:
  struct Impl;
  explicit Attachment(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
  friend class Transaction;
  friend class Statement;
  friend class TimeLimit;
};

// A user record of the security database, as the services manager reports it.
struct UserRecord {
  std::string userName, firstName, middleName, lastName;
  int userId = 0, groupId = 0;
};

// An attachment to a services manager ("localhost:service_mgr" or "host/port:service_mgr").
// User names and passwords are Windows-1252 text and travel as the client expects them.
class ServiceManager {
 public:
  // `serverOnly` as for Attachment::Open: a host-less "service_mgr" would otherwise reach the
  // embedded engine, which accepts any password.
  static ServiceManager Open(std::string_view service, std::string_view user,
                             std::string_view password, bool serverOnly = false);
  ServiceManager(ServiceManager&&) noexcept;
  ServiceManager& operator=(ServiceManager&&) noexcept;
  ~ServiceManager();

  std::vector<UserRecord> DisplayUsers();
  // An empty password is left out of the request.
  void AddUser(std::string_view userName, std::string_view password, int userId, int groupId);
  void ModifyUser(std::string_view userName, std::string_view password);
  void DeleteUser(std::string_view userName);
  void Detach();

 private:
  struct Impl;
  explicit ServiceManager(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

// The connection character set that attach parameter lines name ("lc_ctype", in any letter
// case, also with the "isc_dpb_" prefix), upper-cased; empty when they name none. Without one,
// text columns are read in their own character sets and converted to Windows-1252 (a
// character the code page lacks as "?", a CHAR(n) as n characters); with WIN1252, statement
// text holding a byte the code page leaves undefined is refused, since the server would store
// U+0000 for it.
std::string ConnectionCharSet(const std::vector<std::string>& params);

// The process-wide guard: once on, every attach, database creation and services attach of this
// process goes through a database server (the remote and loopback providers only), whatever the
// client configuration or FIREBIRD say. The embedded engine opens a database file without
// checking the password, so a program that serves other people's logins turns this on first.
void RequireServerAttach(bool on) noexcept;
bool ServerAttachRequired() noexcept;

}  // namespace kvo::fb
