// Prepared statements, parameter binding and cursors.
#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <optional>

#include "fb/fb_impl.h"
#include "platform/ascii.h"

namespace kvo::fb {

using api::Status;

namespace {

// The longest text a VARCHAR parameter can carry.
constexpr size_t kMaxText = 32765;

// A parameter message built for the values at hand: each value travels in its own type, and
// the server converts it to the parameter's declared type as it converts literals.
struct InputMessage {
  api::Ref<api::IMessageMetadata> metadata;
  std::vector<int64_t> buffer;
  unsigned char* data() { return reinterpret_cast<unsigned char*>(buffer.data()); }
};

void Store(unsigned char* p, const void* value, size_t n) {
  std::memcpy(p, value, n);
}

ISC_QUAD CreateBlob(TransactionCore& tx, std::string_view bytes) {
  ISC_QUAD id{};
  api::Ref<api::IBlob> blob;
  {
    Status status;
    blob.reset(tx.attachment->Get()->createBlob(&status, tx.Get(), &id, 0, nullptr));
  }
  constexpr size_t kSegment = 32768;
  for (size_t pos = 0; pos < bytes.size(); pos += kSegment) {
    size_t n = std::min(kSegment, bytes.size() - pos);
    Status status;
    blob->putSegment(&status, static_cast<unsigned>(n), bytes.data() + pos);
  }
  Status status;
  blob->close(&status);
  (void)blob.release();
  return id;
}

// The text form of a value bound to a BLOB parameter.
std::string BlobText(const Value& v) {
  struct {
    std::string operator()(std::monostate) { return {}; }
    std::string operator()(bool b) { return b ? "true" : "false"; }
    std::string operator()(const Scaled& s) { return FormatScaled(s.value, s.scale); }
    std::string operator()(double d) {
      char buf[64];
      auto r = std::to_chars(buf, buf + sizeof buf, d);
      return std::string(buf, r.ptr);
    }
    std::string operator()(const std::string& s) { return s; }
    std::string operator()(const Date& d) { return FormatDate(d); }
    std::string operator()(const Time& t) { return FormatTime(t); }
    std::string operator()(const Timestamp& t) {
      return FormatDate(t.date) + " " + FormatTime(t.time);
    }
    std::string operator()(const Bytes& b) { return b.data; }
  } visitor;
  return std::visit(visitor, v);
}

// On a connection without a character set that takes Windows-1252 text, text bound to a
// parameter of a real character set travels as WIN1252, which the server converts to it; NONE
// and OCTETS take the bytes as they are.
void MarkCp1252Value(const TransactionCore& tx, unsigned index, unsigned& charSet,
                     std::string_view text) {
  if (!tx.attachment->marksCp1252 || charSet == kCharSetNone || charSet == kCharSetOctets) return;
  RefuseUndefinedCp1252(text, "Parameter " + std::to_string(index + 1));
  charSet = kCharSetWin1252;
}

// One parameter as it travels: its type in the message and its value's bytes there.
struct Slot {
  unsigned type = SQL_VARYING, length = 1, charSet = 0;
  int scale = 0, subType = 0;
  bool null = false;
  bool blob = false;  // `bytes` is the content of a blob created at binding
  std::string bytes;
};

template <typename... F>
struct Overloaded : F... {
  using F::operator()...;
};
template <typename... F>
Overloaded(F...) -> Overloaded<F...>;

template <typename T>
std::string BytesOf(const T& value) {
  return std::string(reinterpret_cast<const char*>(&value), sizeof value);
}

// The slot of value `v` for the declared parameter `c` (the `index`th). Throws Error for a text
// too long for a VARCHAR parameter and for text Windows-1252 cannot send (MarkCp1252Value).
Slot SlotFor(const Column& c, const Value& v, unsigned index, const TransactionCore& tx) {
  Slot slot;
  slot.charSet = c.charSet;
  slot.null = std::holds_alternative<std::monostate>(v);
  if (c.type == SqlType::Blob) {
    slot.type = SQL_BLOB;
    slot.length = sizeof(ISC_QUAD);
    slot.subType = c.subType;
    slot.blob = true;
    if (!slot.null) slot.bytes = BlobText(v);
    if (slot.subType == 1) MarkCp1252Value(tx, index, slot.charSet, slot.bytes);
    return slot;
  }
  auto fixed = [&slot](unsigned type, std::string bytes) {
    slot.type = type;
    slot.length = static_cast<unsigned>(bytes.size());
    slot.bytes = std::move(bytes);
  };
  auto text = [&](const std::string& t) {
    if (t.size() > kMaxText)
      throw Error("Parameter " + std::to_string(index + 1) + " is longer than " +
                  std::to_string(kMaxText) + " bytes");
    slot.type = SQL_VARYING;
    slot.length = std::max<unsigned>(1, static_cast<unsigned>(t.size()));
    // Text bound to a non-text parameter carries no character set of its own.
    if (c.type != SqlType::Char && c.type != SqlType::VarChar) slot.charSet = 0;
    MarkCp1252Value(tx, index, slot.charSet, t);
    slot.bytes = BytesOf(static_cast<uint16_t>(t.size())) + t;
  };
  std::visit(Overloaded{
                 // NULL: any type does; a short text keeps the message small.
                 [](std::monostate) {},
                 [&](bool b) { fixed(SQL_BOOLEAN, std::string(1, b ? '\1' : '\0')); },
                 [&](const Scaled& s) {
                   fixed(SQL_INT64, BytesOf(s.value));
                   slot.scale = s.scale;
                 },
                 [&](double d) { fixed(SQL_DOUBLE, BytesOf(d)); },
                 [&](const Date& d) { fixed(SQL_TYPE_DATE, BytesOf(api::EncodeDate(d))); },
                 [&](const Time& t) { fixed(SQL_TYPE_TIME, BytesOf(api::EncodeTime(t))); },
                 [&](const Timestamp& ts) {
                   fixed(SQL_TIMESTAMP, BytesOf(ISC_TIMESTAMP{api::EncodeDate(ts.date),
                                                              api::EncodeTime(ts.time)}));
                 },
                 [&](const std::string& t) { text(t); },
                 [&](const Bytes& b) { text(b.data); },
             },
             v);
  return slot;
}

InputMessage BindInput(const Layout& declared, TransactionCore& tx,
                       const std::vector<Value>& params) {
  const std::vector<Column>& cols = declared.columns;
  if (params.size() != cols.size())
    throw Error("The statement takes " + std::to_string(cols.size()) + " parameters, " +
                std::to_string(params.size()) + " given");
  InputMessage msg;
  if (cols.empty()) return msg;

  // Every value is checked before anything is created on the server.
  std::vector<Slot> slots;
  slots.reserve(cols.size());
  for (unsigned i = 0; i < cols.size(); ++i) slots.push_back(SlotFor(cols[i], params[i], i, tx));

  api::Ref<api::IMetadataBuilder> builder;
  {
    Status status;
    builder.reset(declared.metadata->getBuilder(&status));
  }
  for (unsigned i = 0; i < slots.size(); ++i) {
    const Slot& s = slots[i];
    Status status;
    builder->setType(&status, i, s.type | 1);
    builder->setSubType(&status, i, s.subType);
    builder->setLength(&status, i, s.length);
    builder->setScale(&status, i, s.scale);
    builder->setCharSet(&status, i, s.charSet);
  }
  {
    Status status;
    msg.metadata.reset(builder->getMetadata(&status));
  }
  Layout layout(api::Share(msg.metadata.get()));
  msg.buffer.assign(layout.length / 8 + 2, 0);
  unsigned char* base = msg.data();
  for (unsigned i = 0; i < slots.size(); ++i) {
    const Slot& s = slots[i];
    int16_t null = s.null ? -1 : 0;
    Store(base + layout.nullOffsets[i], &null, sizeof null);
    if (s.null) continue;
    unsigned char* p = base + layout.offsets[i];
    if (s.blob) {
      ISC_QUAD id = CreateBlob(tx, s.bytes);
      Store(p, &id, sizeof id);
    } else {
      Store(p, s.bytes.data(), s.bytes.size());
    }
  }
  return msg;
}

Statement::Kind KindOf(unsigned type) {
  switch (type) {
    case isc_info_sql_stmt_select:
      return Statement::Kind::Select;
    case isc_info_sql_stmt_select_for_upd:
      return Statement::Kind::SelectForUpdate;
    case isc_info_sql_stmt_insert:
      return Statement::Kind::Insert;
    case isc_info_sql_stmt_update:
      return Statement::Kind::Update;
    case isc_info_sql_stmt_delete:
      return Statement::Kind::Delete;
    case isc_info_sql_stmt_ddl:
      return Statement::Kind::Ddl;
    case isc_info_sql_stmt_exec_procedure:
      return Statement::Kind::ExecProcedure;
    case isc_info_sql_stmt_start_trans:
      return Statement::Kind::StartTransaction;
    case isc_info_sql_stmt_commit:
      return Statement::Kind::Commit;
    case isc_info_sql_stmt_rollback:
      return Statement::Kind::Rollback;
    default:
      return Statement::Kind::Other;
  }
}

// The character set the server describes each literal's parameter with, in the order of
// `literals`. A literal standing where the server cannot describe a parameter (the select list,
// a comparison of two literals) meets nothing whose set is known: then the list is empty.
std::vector<unsigned> DescribeLiterals(TransactionCore& tx, std::string_view probe,
                                       const std::vector<LiteralParam>& literals) {
  api::Ref<api::IStatement> statement;
  try {
    Status status;
    statement.reset(tx.attachment->Get()->prepare(
        &status, tx.Get(), static_cast<unsigned>(probe.size()), probe.data(), 3, 0));
  } catch (const Error& e) {
    const auto& codes = e.codes();
    if (std::find(codes.begin(), codes.end(), isc_dsql_datatype_err) == codes.end()) throw;
    return {};
  }
  Status status;
  api::Ref<api::IMessageMetadata> input(statement->getInputMetadata(&status));
  std::vector<unsigned> sets;
  for (const LiteralParam& literal : literals)
    sets.push_back(input->getCharSet(&status, literal.index));
  statement->free(&status);
  (void)statement.release();
  return sets;
}

}  // namespace

std::string_view TextToSend(TransactionCore& tx, std::string_view sql, std::string& rewritten) {
  const AttachmentCore& attachment = *tx.attachment;
  if (auto refusal = StatementTooLong(sql)) throw *refusal;
  if (sql.size() > 0xFFFFFFFFu) throw Error("The statement is too long");
  // The server reads a statement only up to a NUL byte, even when told its length: the rest
  // would be dropped without a word, and a prefix of what was posted would run.
  if (size_t nul = sql.find('\0'); nul != std::string_view::npos)
    throw Error("The statement holds a NUL byte at position " + std::to_string(nul + 1) +
                "; nothing was run");
  if (attachment.win1252) RefuseUndefinedCp1252(sql, "The statement");
  // A connection of a set the caller named takes the text as it is; so does ASCII text.
  if (!attachment.spellsText || (!attachment.readsCp1252 && !attachment.win1252) ||
      !platform::BeyondAscii(sql))
    return sql;
  auto learn = [&tx]() -> const DatabaseText& { return LearnDatabaseText(tx); };
  std::vector<LiteralParam> literals;
  rewritten =
      SpellText(sql, attachment.readsCp1252, attachment.marksCp1252, learn, &literals, nullptr);
  if (literals.empty()) return rewritten;
  // The literals stand as parameters: the server describes each by what it meets, and the text
  // sent spells each for that.
  const std::vector<unsigned> sets = DescribeLiterals(tx, rewritten, literals);
  rewritten = SpellText(sql, attachment.readsCp1252, attachment.marksCp1252, learn, nullptr, &sets);
  return rewritten;
}

void RefuseUndefinedCp1252(std::string_view text, std::string_view what) {
  for (unsigned char c : text) {
    if (c == 0x81 || c == 0x8D || c == 0x8F || c == 0x90 || c == 0x9D) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "0x%02X", c);
      throw Error(std::string(what) + " holds the byte " + hex +
                  ", which is no character of Windows-1252; nothing was run");
    }
  }
}

// ---------------------------------------------------------------------------------------------
// ResultSet

struct ResultSet::Impl {
  // The cursor lives only as long as its statement: a result set keeps it.
  api::Ref<api::IStatement> statement;
  std::shared_ptr<const Layout> layout;
  std::shared_ptr<TransactionCore> transaction;
  api::Ref<api::IResultSet> cursor;
  Row row;
  bool onRow = false;

  Impl(std::shared_ptr<const Layout> l, std::shared_ptr<TransactionCore> t)
      : layout(std::move(l)), transaction(t), row(*layout, t) {}

  void Close() {
    if (!cursor) return;
    // A cursor whose transaction or connection has ended is gone on the server already.
    if (transaction->handle && transaction->attachment->handle) {
      Status status;
      cursor->close(&status);
      (void)cursor.release();
    } else {
      cursor.reset();
    }
  }

  const Row& Current() const {
    if (!onRow) throw Error("The result set is not on a row");
    return row;
  }
};

ResultSet::ResultSet(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
ResultSet::ResultSet(ResultSet&&) noexcept = default;
ResultSet& ResultSet::operator=(ResultSet&&) noexcept = default;
ResultSet::~ResultSet() {
  if (!impl_) return;
  try {
    impl_->Close();
  } catch (...) {
    impl_->cursor.reset();
  }
}

const std::vector<Column>& ResultSet::Columns() const {
  return impl_->layout->columns;
}

bool ResultSet::Fetch() {
  Impl& r = *impl_;
  r.onRow = false;
  if (!r.cursor) return false;
  // The client waits for ever on a cursor whose connection has closed.
  if (!r.transaction->handle || !r.transaction->attachment->handle) {
    r.Close();
    throw Error("The transaction is not active");
  }
  r.row.Refilled();
  Status status;
  int rc = r.cursor->fetchNext(&status, r.row.data());
  if (rc != api::IStatus::RESULT_OK) {
    r.Close();
    return false;
  }
  r.onRow = true;
  return true;
}

bool ResultSet::IsNull(size_t c) const {
  return impl_->Current().IsNull(c);
}
int64_t ResultSet::GetInt64(size_t c) const {
  return impl_->Current().GetInt64(c);
}
double ResultSet::GetDouble(size_t c) const {
  return impl_->Current().GetDouble(c);
}
std::string_view ResultSet::GetText(size_t c) const {
  return impl_->Current().GetText(c);
}
Date ResultSet::GetDate(size_t c) const {
  return impl_->Current().GetDate(c);
}
Time ResultSet::GetTime(size_t c) const {
  return impl_->Current().GetTime(c);
}
Timestamp ResultSet::GetTimestamp(size_t c) const {
  return impl_->Current().GetTimestamp(c);
}
bool ResultSet::GetBool(size_t c) const {
  return impl_->Current().GetBool(c);
}
void ResultSet::ReadBlob(size_t c, std::string& out, size_t stopAbove) const {
  impl_->Current().ReadBlob(c, out, stopAbove);
}
std::string ResultSet::GetAsText(size_t c) const {
  return impl_->Current().GetAsText(c);
}

void ResultSet::Close() {
  impl_->onRow = false;
  impl_->Close();
}

// ---------------------------------------------------------------------------------------------
// Statement

struct Statement::Impl {
  std::shared_ptr<TransactionCore> transaction;
  api::Ref<api::IStatement> statement;
  Kind kind = Kind::Other;
  unsigned flags = 0;
  std::unique_ptr<Layout> input;
  std::shared_ptr<Layout> output;
};

Statement::Statement(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
Statement::Statement(Statement&&) noexcept = default;
Statement& Statement::operator=(Statement&&) noexcept = default;
Statement::~Statement() = default;

std::optional<Error> StatementTooLong(std::string_view sql) {
  // The server measures the text without a last ";" and the blanks after it.
  const size_t last = sql.find_last_not_of(' ');
  if (last != std::string_view::npos && sql[last] == ';') sql = sql.substr(0, last);
  if (sql.size() <= kMaxStatementBytes) return std::nullopt;
  return Error(
      "Dynamic SQL Error\n-SQL error code = -902\n-Implementation limit exceeded\n"
      "-SQL statement is too long. Maximum size is " +
          std::to_string(kMaxStatementBytes) + " bytes.",
      {isc_dsql_error, isc_sqlerr, isc_imp_exc, isc_random});
}

namespace {

// The prepared statement of the layer's own with that text on the attachment, or nullptr.
api::IStatement* FindOwn(OwnStatements& own, std::string_view sql) {
  for (auto& [text, statement] : own.prepared)
    if (text == sql) return statement.get();
  return nullptr;
}

void KeepOwn(OwnStatements& own, std::string_view sql, api::IStatement* statement) {
  if (own.prepared.size() >= OwnStatements::kMax) own.prepared.erase(own.prepared.begin());
  own.prepared.emplace_back(std::string(sql), api::Share(statement));
}

}  // namespace

Statement Statement::Make(std::shared_ptr<TransactionCore> transaction, std::string_view sql,
                          bool own) {
  auto impl = std::make_unique<Impl>();
  impl->transaction = std::move(transaction);
  TransactionCore& tx = *impl->transaction;
  std::string rewritten;
  const std::string_view sent = TextToSend(tx, sql, rewritten);
  Status status;
  if (api::IStatement* kept = own ? FindOwn(tx.attachment->own, sent) : nullptr) {
    impl->statement = api::Share(kept);
  } else {
    impl->statement.reset(
        tx.attachment->Get()->prepare(&status, tx.Get(), static_cast<unsigned>(sent.size()),
                                      sent.data(), 3, api::IStatement::PREPARE_PREFETCH_METADATA));
    if (own) KeepOwn(tx.attachment->own, sent, impl->statement.get());
  }
  api::IStatement* st = impl->statement.get();
  impl->kind = KindOf(st->getType(&status));
  impl->flags = st->getFlags(&status);
  impl->input =
      std::make_unique<Layout>(api::Ref<api::IMessageMetadata>(st->getInputMetadata(&status)));
  impl->output =
      std::make_shared<Layout>(api::Ref<api::IMessageMetadata>(st->getOutputMetadata(&status)));
  if (tx.attachment->readsCp1252) impl->output->ReadAsCp1252();
  return Statement(std::move(impl));
}

Statement Attachment::Prepare(Transaction& transaction, std::string_view sql) {
  TransactionCore& tx = transaction.core();
  if (tx.attachment != impl_->core) throw Error("The transaction belongs to another connection");
  return Statement::Make(tx.shared_from_this(), sql);
}

Statement::Kind Statement::kind() const {
  return impl_->kind;
}

bool Statement::HasCursor() const {
  return (impl_->flags & api::IStatement::FLAG_HAS_CURSOR) != 0;
}

const std::vector<Column>& Statement::InputColumns() const {
  return impl_->input->columns;
}
const std::vector<Column>& Statement::OutputColumns() const {
  return impl_->output->columns;
}

void Statement::LookupPrecisions(Transaction& transaction) {
  std::vector<Column>& cols = impl_->output->columns;
  std::vector<size_t> wanted;
  for (size_t i = 0; i < cols.size(); ++i) {
    Column& c = cols[i];
    if (!c.IsNumeric() || c.relation.empty() || c.field.empty()) continue;
    c.precision = 0;
    wanted.push_back(i);
  }
  // One query answers a batch of columns, each row tagged with its column's place: a round trip
  // to the server per column was most of the cost of a small select. The batch stays far below
  // the server's limit on the contexts of one query. The query is prepared once per connection
  // and batch size: on a kept attachment, preparing it was half the server's work for a small
  // select.
  constexpr size_t kBatch = 50;
  for (size_t first = 0; first < wanted.size(); first += kBatch) {
    const size_t last = std::min(wanted.size(), first + kBatch);
    std::string sql;
    std::vector<Value> params;
    for (size_t k = first; k < last; ++k) {
      if (!sql.empty()) sql += " union all ";
      sql += "select " + std::to_string(wanted[k]) +
             ", f.RDB$FIELD_PRECISION from RDB$RELATION_FIELDS r join RDB$FIELDS f on "
             "f.RDB$FIELD_NAME = r.RDB$FIELD_SOURCE where r.RDB$RELATION_NAME = ? and "
             "r.RDB$FIELD_NAME = ?";
      params.emplace_back(cols[wanted[k]].relation);
      params.emplace_back(cols[wanted[k]].field);
    }
    Statement query = Make(transaction.core().shared_from_this(), sql, true);
    ResultSet rs = query.Open(params);
    while (rs.Fetch()) {
      const int64_t place = rs.GetInt64(0);
      if (place >= 0 && static_cast<size_t>(place) < cols.size() && !rs.IsNull(1))
        cols[static_cast<size_t>(place)].precision = static_cast<int>(rs.GetInt64(1));
    }
  }
}

ResultSet Statement::Open(const std::vector<Value>& params) {
  Impl& s = *impl_;
  if (!HasCursor()) throw Error("The statement does not open a cursor");
  TransactionCore& tx = *s.transaction;
  InputMessage in = BindInput(*s.input, tx, params);
  auto impl = std::make_unique<ResultSet::Impl>(s.output, s.transaction);
  impl->statement = api::Share(s.statement.get());
  Status status;
  impl->cursor.reset(s.statement->openCursor(&status, tx.Get(), in.metadata.get(),
                                             in.buffer.empty() ? nullptr : in.data(),
                                             s.output->metadata.get(), 0));
  return ResultSet(std::move(impl));
}

std::vector<std::optional<std::string>> Statement::Execute(const std::vector<Value>& params) {
  Impl& s = *impl_;
  std::vector<std::optional<std::string>> values;
  if (HasCursor()) {
    ResultSet rs = Open(params);
    if (rs.Fetch()) {
      for (size_t i = 0; i < rs.Columns().size(); ++i)
        values.push_back(rs.IsNull(i) ? std::nullopt : std::optional(rs.GetAsText(i)));
    }
    return values;
  }
  // Every statement runs in the transaction its caller started, which ends it.
  if (s.kind == Kind::StartTransaction)
    throw Error("SET TRANSACTION cannot run here: the statement already runs in a transaction");
  TransactionCore& tx = *s.transaction;
  InputMessage in = BindInput(*s.input, tx, params);
  Row row(*s.output, s.transaction);
  bool hasOutput = !s.output->columns.empty();
  Status status;
  tx.Adopt(s.statement->execute(
      &status, tx.Get(), in.metadata.get(), in.buffer.empty() ? nullptr : in.data(),
      hasOutput ? s.output->metadata.get() : nullptr, hasOutput ? row.data() : nullptr));
  for (size_t i = 0; i < s.output->columns.size(); ++i)
    values.push_back(row.IsNull(i) ? std::nullopt : std::optional(row.GetAsText(i)));
  return values;
}

}  // namespace kvo::fb
