// TClientDataSet over one data packet, and its fields.
#include <algorithm>
#include <optional>

#include "kvo/client/db.h"
#include "packet/packet.h"
#include "platform/ascii.h"
#include "platform/error.h"

namespace kvo::client {

namespace {

TFieldType TypeOf(const packet::Field& f) {
  using packet::FieldType;
  switch (f.type) {
    case FieldType::I2:
      return TFieldType::ftSmallint;
    case FieldType::I4:
      return TFieldType::ftInteger;
    case FieldType::I8:
      return TFieldType::ftLargeint;
    case FieldType::R8:
      return TFieldType::ftFloat;
    case FieldType::Fixed:
      return TFieldType::ftBCD;
    case FieldType::String:
      return f.fixedChar ? TFieldType::ftFixedChar : TFieldType::ftString;
    case FieldType::Boolean:
      return TFieldType::ftBoolean;
    case FieldType::Date:
      return TFieldType::ftDate;
    case FieldType::Time:
      return TFieldType::ftTime;
    case FieldType::DateTime:
      return TFieldType::ftDateTime;
    case FieldType::Text:
      return TFieldType::ftMemo;
    case FieldType::Binary:
      return TFieldType::ftBlob;
  }
  return TFieldType::ftUnknown;
}

TDate DateOf(const packet::Date& d) {
  return TDate{d.year, d.month, d.day};
}
TTime TimeOf(const packet::Time& t) {
  return TTime{t.hour, t.minute, t.second, t.fraction};
}

// An exact number's text ("-123.45") rounded to the nearest integer, halves to even as the
// conversion through double rounded them; nullopt beyond 64 bits.
std::optional<int64_t> RoundFixedText(std::string_view text) {
  bool negative = !text.empty() && text[0] == '-';
  if (negative) text.remove_prefix(1);
  size_t point = text.find('.');
  std::string_view whole = text.substr(0, point);
  std::string_view decimals = point == std::string_view::npos ? "" : text.substr(point + 1);
  uint64_t magnitude = 0;
  for (char c : whole) {
    if (magnitude > (UINT64_MAX - 9) / 10) return std::nullopt;
    magnitude = magnitude * 10 + static_cast<uint64_t>(c - '0');
  }
  if (!decimals.empty()) {
    bool above = decimals[0] > '5' || (decimals[0] == '5' && decimals.find_first_not_of('0', 1) !=
                                                                 std::string_view::npos);
    bool half = decimals[0] == '5' && !above;
    if (above || (half && magnitude % 2 == 1)) ++magnitude;
  }
  if (negative) {
    if (magnitude > uint64_t{1} << 63) return std::nullopt;
    return static_cast<int64_t>(0 - magnitude);
  }
  if (magnitude > static_cast<uint64_t>(INT64_MAX)) return std::nullopt;
  return static_cast<int64_t>(magnitude);
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// TField

bool TField::IsNull() const {
  dataSet_.CheckActive();
  if (stale_) {
    throw Error(dataSet_.NamePrefix() + "Field '" + name_ +
                "' belongs to an earlier result with other columns");
  }
  if (dataSet_.IsEmpty()) return true;
  return dataSet_.Data().IsNull(dataSet_.current_, index_);
}

TVariant TField::Value() const {
  if (IsNull()) return TNull{};
  const packet::Packet& p = dataSet_.Data();
  size_t row = dataSet_.current_;
  using packet::FieldType;
  switch (p.Fields()[index_].type) {
    case FieldType::I2:
    case FieldType::I4:
    case FieldType::I8:
      return p.GetInt(row, index_);
    case FieldType::R8:
      return p.GetDouble(row, index_);
    case FieldType::Fixed:
      return p.GetFixedText(row, index_);
    case FieldType::String:
    case FieldType::Text:
    case FieldType::Binary:
      return std::string(p.GetBytes(row, index_));
    case FieldType::Boolean:
      return p.GetBool(row, index_);
    case FieldType::Date:
      return TDateTime{DateOf(p.GetDate(row, index_)), TTime{}};
    case FieldType::Time: {
      TDateTime v;
      v.Time = TimeOf(p.GetTime(row, index_));
      return v;
    }
    case FieldType::DateTime: {
      packet::DateTime dt = p.GetDateTime(row, index_);
      return TDateTime{DateOf(dt.date), TimeOf(dt.time)};
    }
  }
  return TNull{};
}

std::string TField::AsString() const {
  TVariant v = Value();
  if (type_ == TFieldType::ftBCD && std::holds_alternative<std::string>(v)) {
    std::string text = std::get<std::string>(v);
    for (char& c : text) {
      if (c == '.') c = FormatSettings().DecimalSeparator;
    }
    return text;
  }
  if (type_ == TFieldType::ftDate && std::holds_alternative<TDateTime>(v)) {
    // A date on the zero day is still a date, not a time of day.
    const TDateTime& dt = std::get<TDateTime>(v);
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d", dt.Date.Year, dt.Date.Month,
                  dt.Date.Day);
    return buffer;
  }
  return VariantToText(v);
}

int64_t TField::AsLargeInt() const {
  TVariant v = Value();
  if (type_ == TFieldType::ftBCD && std::holds_alternative<std::string>(v)) {
    // Through double, 18 digits would lose their last ones.
    const std::string& text = std::get<std::string>(v);
    std::optional<int64_t> whole = RoundFixedText(text);
    if (!whole) throw Error("Value " + text + " of field '" + name_ + "' is out of range");
    return *whole;
  }
  return VariantToInteger(v);
}

int32_t TField::AsInteger() const {
  TVariant v = Value();
  int64_t whole = AsLargeInt();
  if (whole < INT32_MIN || whole > INT32_MAX) {
    std::string shown =
        std::holds_alternative<std::string>(v) ? std::get<std::string>(v) : std::to_string(whole);
    throw Error("Value " + shown + " of field '" + name_ + "' is out of range");
  }
  return static_cast<int32_t>(whole);
}

double TField::AsFloat() const {
  TVariant v = Value();
  if (std::holds_alternative<std::string>(v) && type_ == TFieldType::ftBCD) {
    return VariantToFloat(std::get<std::string>(v));
  }
  return VariantToFloat(v);
}

bool TField::AsBoolean() const {
  TVariant v = Value();
  if (std::holds_alternative<bool>(v)) return std::get<bool>(v);
  if (std::holds_alternative<TNull>(v)) return false;
  if (std::holds_alternative<std::string>(v)) {
    const std::string& s = std::get<std::string>(v);
    if (platform::SameTextAscii(s, "true")) return true;
    if (platform::SameTextAscii(s, "false")) return false;
  }
  return VariantToInteger(v) != 0;
}

TDateTime TField::AsDateTime() const {
  return VariantToDateTime(Value());
}

// ---------------------------------------------------------------------------------------------
// TClientDataSet

TClientDataSet::TClientDataSet(TComponent* owner) : TComponent(owner) {}
TClientDataSet::~TClientDataSet() = default;

std::string TClientDataSet::NamePrefix() const {
  return Name.empty() ? "" : Name + ": ";
}

void TClientDataSet::CheckActive() const {
  if (!active_) throw Error(NamePrefix() + "Cannot perform this operation on a closed dataset");
}

const packet::Packet& TClientDataSet::Data() const {
  CheckActive();
  return *packet_;
}

void TClientDataSet::Open() {
  if (active_) return;
  if (pending_ != Pending::None) {
    // Read before it is taken: a packet that cannot be read stays the one held, so every later
    // Open reports the same fault instead of showing older rows.
    packet::Packet read = pending_ == Pending::Xml ? packet::LoadXml(pendingBytes_)
                                                   : packet::LoadBinary(pendingBytes_);
    packet_ = std::make_shared<const packet::Packet>(std::move(read));
    pending_ = Pending::None;
    pendingBytes_.clear();
    pendingBytes_.shrink_to_fit();
  }
  if (!packet_) throw Error(NamePrefix() + "Provedor de dados ou base de dados perdidos");
  BindFields();
  active_ = true;
  First();
}

void TClientDataSet::Close() {
  if (!active_) return;
  active_ = false;
  current_ = 0;
  bof_ = eof_ = true;
}

void TClientDataSet::Load(Pending kind, std::string_view bytes) {
  Close();
  packet_.reset();
  pending_ = kind;
  pendingBytes_.assign(bytes);
  Open();
}

void TClientDataSet::LoadFromXml(std::string_view xml) {
  Load(Pending::Xml, xml);
}
void TClientDataSet::LoadFromBinary(std::string_view bytes) {
  Load(Pending::Binary, bytes);
}

void TClientDataSet::SetPacket(std::shared_ptr<const packet::Packet> packet) {
  Close();
  pending_ = Pending::None;
  pendingBytes_.clear();
  packet_ = std::move(packet);
  Open();
}

void TClientDataSet::DropPacket() {
  Close();
  pending_ = Pending::None;
  pendingBytes_.clear();
  packet_.reset();
}

void TClientDataSet::CopyDataFrom(const TClientDataSet& other) {
  if (!other.packet_) {
    throw Error(other.NamePrefix() + "Provedor de dados ou base de dados perdidos");
  }
  SetPacket(other.packet_);
}

std::string TClientDataSet::XmlData() const {
  if (!packet_) throw Error(NamePrefix() + "Provedor de dados ou base de dados perdidos");
  return packet::RenderXml(*packet_);
}

void TClientDataSet::BindFields() {
  std::vector<std::unique_ptr<TField>> fresh;
  const auto& fields = packet_->Fields();
  for (size_t i = 0; i < fields.size(); ++i) {
    const packet::Field& f = fields[i];
    TFieldType type = TypeOf(f);
    int size = type == TFieldType::ftBCD               ? f.decimals
               : (f.type == packet::FieldType::String) ? f.width
                                                       : 0;
    fresh.push_back(
        std::make_unique<TField>(TField::Key(), *this, i, f.name, type, size, f.required));
  }
  auto same = [](const TField& a, const TField& b) {
    return a.name_ == b.name_ && a.type_ == b.type_ && a.size_ == b.size_ &&
           a.required_ == b.required_;
  };
  bool keep = fresh.size() == fields_.size() &&
              std::equal(fresh.begin(), fresh.end(), fields_.begin(),
                         [&](const auto& a, const auto& b) { return same(*a, *b); });
  if (keep) return;
  // Programs may still hold references to the old fields: they stay alive, marked stale.
  for (auto& f : fields_) {
    f->stale_ = true;
    staleFields_.push_back(std::move(f));
  }
  fields_ = std::move(fresh);
}

void TClientDataSet::ReleaseStaleFields() {
  staleFields_.clear();
  if (!active_) fields_.clear();
}

TField& TClientDataSet::Fields(size_t index) {
  CheckActive();
  if (index >= fields_.size()) {
    throw Error(NamePrefix() + "List index out of bounds (" + std::to_string(index) + ")");
  }
  return *fields_[index];
}

TField* TClientDataSet::FindField(std::string_view name) {
  if (!active_) return nullptr;
  for (auto& f : fields_) {
    if (platform::SameTextAscii(f->FieldName(), name)) return f.get();
  }
  return nullptr;
}

TField& TClientDataSet::FieldByName(std::string_view name) {
  CheckActive();
  if (TField* f = FindField(name)) return *f;
  throw Error(NamePrefix() + "Field '" + std::string(name) + "' not found");
}

int TClientDataSet::RecordCount() const {
  return active_ ? static_cast<int>(packet_->RowCount()) : 0;
}

void TClientDataSet::First() {
  CheckActive();
  current_ = 0;
  bof_ = true;
  eof_ = IsEmpty();
}

void TClientDataSet::Last() {
  CheckActive();
  current_ = IsEmpty() ? 0 : packet_->RowCount() - 1;
  eof_ = true;
  bof_ = IsEmpty();
}

void TClientDataSet::Next() {
  CheckActive();
  if (current_ + 1 < packet_->RowCount()) {
    ++current_;
    bof_ = false;
  } else {
    eof_ = true;
  }
}

void TClientDataSet::Prior() {
  CheckActive();
  if (current_ > 0) {
    --current_;
    eof_ = false;
  } else {
    bof_ = true;
  }
}

}  // namespace kvo::client
