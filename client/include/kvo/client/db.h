// Data-set building blocks: field and parameter types, values, parameters, fields, and
// TClientDataSet, the in-memory data set that holds one data packet (a self-describing result
// set: columns and all rows) and lets a program walk its rows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "kvo/client/classes.h"

namespace kvo::packet {
class Packet;
}

namespace kvo::client {

enum class TFieldType {
  ftUnknown,
  ftString,
  ftSmallint,
  ftInteger,
  ftWord,
  ftBoolean,
  ftFloat,
  ftCurrency,
  ftBCD,
  ftDate,
  ftTime,
  ftDateTime,
  ftBytes,
  ftVarBytes,
  ftAutoInc,
  ftBlob,
  ftMemo,
  ftGraphic,
  ftFmtMemo,
  ftParadoxOle,
  ftDBaseOle,
  ftTypedBinary,
  ftCursor,
  ftFixedChar,
  ftWideString,
  ftLargeint,
  ftADT,
  ftArray,
  ftReference,
  ftDataSet,
  ftOraBlob,
  ftOraClob,
  ftVariant,
  ftInterface,
  ftIDispatch,
  ftGuid,
  ftTimeStamp,
  ftFMTBcd
};

enum class TParamType { ptUnknown, ptInput, ptOutput, ptInputOutput, ptResult };

// A calendar date, a time of day (Fraction in 1/10000 s) and both together. A time without a
// date carries the date 1899-12-30 (the zero of the day count that date-times are based on).
struct TDate {
  int Year = 1899, Month = 12, Day = 30;
  bool operator==(const TDate&) const = default;
};
struct TTime {
  int Hour = 0, Minute = 0, Second = 0, Fraction = 0;
  bool operator==(const TTime&) const = default;
};
struct TDateTime {
  TDate Date;
  TTime Time;
  bool operator==(const TDateTime&) const = default;
};

// A value that was never assigned, and SQL NULL.
struct TUnassigned {
  bool operator==(const TUnassigned&) const = default;
};
struct TNull {
  bool operator==(const TNull&) const = default;
};

// A parameter or field value. Text is Windows-1252 bytes (also binary data), except on the
// direct route of a database whose Params name a character set (lc_ctype): text is then in
// that set, as Firebird gives it (a CHAR(10) of UTF8 on a UTF8 connection is 40 bytes wide).
using TVariant = std::variant<TUnassigned, TNull, bool, int64_t, double, std::string, TDateTime>;

// The ordinary text form of a value: integers in decimal, text unchanged, True or False,
// other numbers with FormatSettings().DecimalSeparator (up to 15 significant digits), dates
// "yyyy-mm-dd", times "hh:nn:ss", date-times "yyyy-mm-dd hh:nn:ss" (the time part left out when
// it is 00:00:00; the date part left out for a time alone), unassigned and NULL as "".
KVO_CLIENT_API std::string VariantToText(const TVariant& value);
// Conversions as a data type requires them. Text is parsed (integers in decimal; numbers with
// "." or the decimal separator; dates "yyyy-mm-dd" with an optional time "hh:nn[:ss]" after a
// blank or "T"; times "hh:nn[:ss]"). Throw kvo::Error ("'abc' is not a valid integer value",
// "'abc' is not a valid floating point value", "'abc' is not a valid date", "'abc' is not a
// valid time") when the value cannot be converted.
KVO_CLIENT_API int64_t VariantToInteger(const TVariant& value);
KVO_CLIENT_API double VariantToFloat(const TVariant& value);
KVO_CLIENT_API TDateTime VariantToDateTime(const TVariant& value);

class KVO_CLIENT_API TParam {
 public:
  TParam() = default;
  TParam(std::string name, TFieldType dataType, TParamType paramType)
      : Name(std::move(name)), DataType(dataType), ParamType(paramType) {}

  std::string Name;
  TFieldType DataType = TFieldType::ftUnknown;
  TParamType ParamType = TParamType::ptUnknown;

  const TVariant& Value() const { return value_; }
  // Keeps DataType (a program sets the type it wants, then the value).
  void SetValue(TVariant value) { value_ = std::move(value); }
  // The typed setters set DataType as well, as their names say.
  void SetAsString(std::string value);         // ftString
  void SetAsMemo(std::string value);           // ftMemo
  void SetAsInteger(int32_t value);            // ftInteger
  void SetAsSmallInt(int16_t value);           // ftSmallint
  void SetAsLargeInt(int64_t value);           // ftLargeint
  void SetAsFloat(double value);               // ftFloat
  void SetAsCurrency(double value);            // ftCurrency
  void SetAsBoolean(bool value);               // ftBoolean
  void SetAsDate(const TDate& value);          // ftDate
  void SetAsTime(const TTime& value);          // ftTime
  void SetAsDateTime(const TDateTime& value);  // ftDateTime
  // SQL NULL; the type stays.
  void Clear() { value_ = TNull{}; }
  // Never assigned, or NULL.
  bool IsNull() const;
  std::string AsString() const { return VariantToText(value_); }

 private:
  TVariant value_;
};

// An ordered list of parameters; names may repeat (one parameter per marker of a statement).
class KVO_CLIENT_API TParams {
 public:
  size_t Count() const { return items_.size(); }
  TParam& operator[](size_t index) { return items_.at(index); }
  const TParam& operator[](size_t index) const { return items_.at(index); }
  TParam& CreateParam(TFieldType dataType, std::string name, TParamType paramType);
  void Clear() { items_.clear(); }
  // The first parameter of that name (ASCII letter case ignored), or nullptr.
  TParam* FindParam(std::string_view name);
  // As FindParam; throws kvo::Error "Parameter 'x' not found" when missing.
  TParam& ParamByName(std::string_view name);

  auto begin() { return items_.begin(); }
  auto end() { return items_.end(); }
  auto begin() const { return items_.begin(); }
  auto end() const { return items_.end(); }

 private:
  std::vector<TParam> items_;
};

class TClientDataSet;

// A column of an open data set; its value is that of the current record.
//
// Lifetime: a data set owns its fields. A TField& stays valid while the data set lives, across
// Close and Open and across loading a new packet with the same columns (the same statement run
// again keeps the same field objects). When a packet with other columns is loaded, the earlier
// fields stay alive but read as stale (they throw) until the data set is destroyed or, for a
// remote data set or query, its statement changes; only then are they freed.
class KVO_CLIENT_API TField {
 public:
  // Only a data set makes its fields.
  class Key {
    friend class TClientDataSet;
    Key() = default;
  };
  TField(Key, const TClientDataSet& dataSet, size_t index, std::string name, TFieldType type,
         int size, bool required)
      : dataSet_(dataSet),
        index_(index),
        name_(std::move(name)),
        type_(type),
        size_(size),
        required_(required) {}

  const std::string& FieldName() const { return name_; }
  TFieldType DataType() const { return type_; }
  // Text columns: length in bytes; ftBCD/ftFMTBcd: the number of decimals; 0 elsewhere.
  int Size() const { return size_; }
  bool Required() const { return required_; }

  // The readers throw kvo::Error when the data set is closed, when the field no longer belongs
  // to the data set's columns, or when the value cannot be converted. A NULL, and any field of
  // an empty data set, reads as "", 0, false or the zero date-time (1899-12-30); IsNull() is
  // then true.
  bool IsNull() const;
  TVariant Value() const;  // NULL as TNull; ftBCD/ftFMTBcd as their exact text
  std::string AsString() const;
  int32_t AsInteger() const;
  int64_t AsLargeInt() const;
  double AsFloat() const;
  bool AsBoolean() const;
  TDateTime AsDateTime() const;

 private:
  friend class TClientDataSet;
  const TClientDataSet& dataSet_;
  size_t index_;
  std::string name_;
  TFieldType type_;
  int size_;
  bool required_;
  bool stale_ = false;  // the data set now holds other columns
};

// A data set over one data packet. Loading a packet (XML text or binary bytes) replaces the
// one held and opens the data set on it. Closing keeps the packet: the next Open() shows it
// again. Open() with no packet fails with "Provedor de dados ou base de dados perdidos",
// prefixed with Name and ": " when the component has a name.
class KVO_CLIENT_API TClientDataSet : public TComponent {
 public:
  explicit TClientDataSet(TComponent* owner = nullptr);
  ~TClientDataSet() override;

  TParams Params;
  // Set by programs that must not edit the rows; this data set offers no editing anyway.
  bool ReadOnly = false;

  bool Active() const { return active_; }
  void SetActive(bool value) { value ? Open() : Close(); }
  // Opens on the packet held (reading it when it was loaded but not yet read). Throws
  // kvo::Error: the missing-packet message, or the loader's message for a packet that cannot be
  // read (the data set stays closed and keeps that packet, so the next Open fails alike).
  void Open();
  void Close();

  // Loads the XML rendering (the server's answer, its XML declaration included) or the binary
  // rendering, replacing the packet held, and opens the data set. On a packet that cannot be
  // read it throws the loader's kvo::Error and stays closed, holding the failed packet.
  void LoadFromXml(std::string_view xml);
  void LoadFromBinary(std::string_view bytes);
  // Takes (shares) the packet of `other`, which must hold a read packet, and opens on it.
  void CopyDataFrom(const TClientDataSet& other);
  // The XML rendering of the packet held (without declaration). Throws when there is none.
  std::string XmlData() const;

  // Columns of the open data set.
  size_t FieldCount() const { return active_ ? fields_.size() : 0; }
  TField& Fields(size_t index);
  // Throws kvo::Error "Field 'x' not found" (with the name prefix) when there is none.
  TField& FieldByName(std::string_view name);
  TField* FindField(std::string_view name);

  // Navigation over the rows; RecNo is 1-based (0 when there are no rows).
  int RecordCount() const;
  int RecNo() const { return RecordCount() ? static_cast<int>(current_) + 1 : 0; }
  bool Bof() const { return bof_; }
  bool Eof() const { return eof_; }
  bool IsEmpty() const { return RecordCount() == 0; }
  void First();
  void Last();
  void Next();
  void Prior();

 protected:
  // Replaces the packet held by one built elsewhere (the direct route) and opens on it.
  void SetPacket(std::shared_ptr<const packet::Packet> packet);
  // Closes and forgets the packet held: the next Open fails with the missing-packet message.
  void DropPacket();
  // Frees the fields of earlier column sets (see TField); the current ones too when closed.
  void ReleaseStaleFields();
  // "<Name>: " or "".
  std::string NamePrefix() const;
  void CheckActive() const;

 private:
  friend class TField;
  enum class Pending { None, Xml, Binary };
  void Load(Pending kind, std::string_view bytes);
  void BindFields();
  const packet::Packet& Data() const;

  std::shared_ptr<const packet::Packet> packet_;
  Pending pending_ = Pending::None;  // a loaded rendering not yet read into packet_
  std::string pendingBytes_;
  std::vector<std::unique_ptr<TField>> fields_;
  std::vector<std::unique_ptr<TField>> staleFields_;  // kept alive for references still held
  bool active_ = false;
  size_t current_ = 0;
  bool bof_ = true, eof_ = true;
};

}  // namespace kvo::client
