// TClientDataSet over one data packet, and its fields.
#include "platform/ascii.h"
#include "kvo/client/db.h"
#include "packet/packet.h"
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

}  // namespace

// ---------------------------------------------------------------------------------------------
// TField

bool TField::IsNull() const {
  dataSet_.CheckActive();
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
    return VariantToInteger(VariantToFloat(v));
  }
  return VariantToInteger(v);
}

int32_t TField::AsInteger() const {
  int64_t v = AsLargeInt();
  if (v < INT32_MIN || v > INT32_MAX) {
    throw Error("Value " + std::to_string(v) + " of field '" + name_ + "' is out of range");
  }
  return static_cast<int32_t>(v);
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
  fields_.clear();
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
  fields_.clear();
  const auto& fields = packet_->Fields();
  for (size_t i = 0; i < fields.size(); ++i) {
    const packet::Field& f = fields[i];
    TFieldType type = TypeOf(f);
    int size = type == TFieldType::ftBCD               ? f.decimals
               : (f.type == packet::FieldType::String) ? f.width
                                                       : 0;
    fields_.push_back(
        std::make_unique<TField>(TField::Key(), *this, i, f.name, type, size, f.required));
  }
}

TField& TClientDataSet::Fields(size_t index) {
  CheckActive();
  if (index >= fields_.size()) {
    throw Error(NamePrefix() + "List index out of bounds (" + std::to_string(index) + ")");
  }
  return *fields_[index];
}

TField* TClientDataSet::FindField(std::string_view name) {
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
