// The XML loader. The one place that includes expat.
#include <expat.h>

#include <charconv>
#include <memory>
#include <optional>
#include <unordered_map>

#include "packet/packet.h"
#include "packet/text_codec.h"

namespace kvo::packet {

namespace {

struct ParserDeleter {
  void operator()(XML_ParserStruct* p) const { XML_ParserFree(p); }
};

// Expat hands over UTF-8; the packet holds single bytes. Characters up to U+00FF are those
// bytes, U+E000..U+E01F the control bytes that the renderer escaped; nothing else fits.
bool ToBytes(const char* utf8, std::string& out) {
  out.clear();
  const unsigned char* p = reinterpret_cast<const unsigned char*>(utf8);
  while (*p) {
    unsigned char c = *p;
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
      ++p;
      continue;
    }
    uint32_t cp;
    int extra;
    if ((c & 0xE0) == 0xC0) {
      cp = c & 0x1F;
      extra = 1;
    } else if ((c & 0xF0) == 0xE0) {
      cp = c & 0x0F;
      extra = 2;
    } else if ((c & 0xF8) == 0xF0) {
      cp = c & 0x07;
      extra = 3;
    } else {
      return false;
    }
    ++p;
    for (int i = 0; i < extra; ++i, ++p) {
      if ((*p & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (*p & 0x3F);
    }
    if (cp <= 0xFF) {
      out.push_back(static_cast<char>(cp));
    } else if (cp >= detail::kControlBase && cp < detail::kControlBase + 0x20) {
      out.push_back(static_cast<char>(cp - detail::kControlBase));
    } else {
      return false;
    }
  }
  return true;
}

template <typename T>
bool ParseInt(std::string_view s, T& v) {
  if (s.empty()) return false;
  auto r = std::from_chars(s.data(), s.data() + s.size(), v);
  return r.ec == std::errc() && r.ptr == s.data() + s.size();
}

bool ParseDigits(std::string_view s, size_t at, size_t n, int& v) {
  if (at + n > s.size()) return false;
  v = 0;
  for (size_t i = at; i < at + n; ++i) {
    if (s[i] < '0' || s[i] > '9') return false;
    v = v * 10 + (s[i] - '0');
  }
  return true;
}

bool ParseDate(std::string_view s, Date& d) {
  return s.size() == 8 && ParseDigits(s, 0, 4, d.year) && ParseDigits(s, 4, 2, d.month) &&
         ParseDigits(s, 6, 2, d.day) && d.year >= 1 && d.month >= 1 && d.month <= 12 &&
         d.day >= 1 && d.day <= 31;
}

// hh:nn:ss with optional milliseconds ZZZ, or ZZZZ in 1/10000 s.
bool ParseTime(std::string_view s, Time& t) {
  int fraction = 0;
  if (s.size() != 8 && s.size() != 11 && s.size() != 12) return false;
  if (!ParseDigits(s, 0, 2, t.hour) || s[2] != ':' || !ParseDigits(s, 3, 2, t.minute) ||
      s[5] != ':' || !ParseDigits(s, 6, 2, t.second))
    return false;
  if (s.size() > 8 && !ParseDigits(s, 8, s.size() - 8, fraction)) return false;
  t.fraction = s.size() == 11 ? fraction * 10 : fraction;
  return t.hour < 24 && t.minute < 60 && t.second < 60;
}

// "[-]digits[.digits]" with at most `decimals` digits after the point, as the unscaled integer.
bool ParseFixed(std::string_view s, int decimals, int64_t& v) {
  bool negative = !s.empty() && s[0] == '-';
  if (negative) s.remove_prefix(1);
  size_t dot = s.find('.');
  std::string_view whole = s.substr(0, dot);
  std::string_view frac = dot == std::string_view::npos ? std::string_view() : s.substr(dot + 1);
  if (whole.empty() || (dot != std::string_view::npos && frac.empty())) return false;
  if (frac.size() > static_cast<size_t>(decimals)) return false;
  unsigned __int128 m = 0;
  auto addDigit = [&](char c) {
    if (c < '0' || c > '9') return false;
    m = m * 10 + static_cast<unsigned>(c - '0');
    return m <= (unsigned __int128)INT64_MAX + 1;
  };
  for (char c : whole)
    if (!addDigit(c)) return false;
  for (char c : frac)
    if (!addDigit(c)) return false;
  for (size_t i = frac.size(); i < static_cast<size_t>(decimals); ++i)
    if (!addDigit('0')) return false;
  if (!negative && m > INT64_MAX) return false;
  v = negative ? static_cast<int64_t>(0 - static_cast<uint64_t>(m)) : static_cast<int64_t>(m);
  return true;
}

struct Loader {
  XML_Parser parser = nullptr;
  std::string error;
  std::vector<std::string> path;  // names of the open elements
  std::vector<Field> fields;
  std::optional<Packet> packet;
  std::unordered_map<std::string, size_t> byAttr;
  std::string scratch, scratch2, name;
  bool seenRoot = false;

  void Fail(std::string message) {
    if (error.empty()) error = std::move(message);
    XML_StopParser(parser, XML_FALSE);
  }

  bool Parent(const char* name) const { return !path.empty() && path.back() == name; }

  void StartPacket() {
    if (packet) return;
    for (const Field& f : fields) byAttr.emplace(f.attrName, byAttr.size());
    if (byAttr.size() != fields.size()) return Fail("two fields share the name");
    packet.emplace(std::move(fields));
  }

  void OnField(const XML_Char** atts) {
    Field f;
    std::string type, subtype;
    bool named = false;
    for (size_t i = 0; atts[i]; i += 2) {
      std::string_view key = atts[i];
      if (!ToBytes(atts[i + 1], scratch)) return Fail("a character outside ISO-8859-1");
      if (key == "attrname") {
        f.attrName = scratch;
      } else if (key == "fieldname") {
        f.name = scratch;
        named = true;
      } else if (key == "fieldtype") {
        type = scratch;
      } else if (key == "SUBTYPE") {
        subtype = scratch;
      } else if (key == "WIDTH") {
        if (!ParseInt(scratch, f.width)) return Fail("bad WIDTH " + scratch);
      } else if (key == "DECIMALS") {
        if (!ParseInt(scratch, f.decimals) || f.decimals < 0 || f.decimals > 18)
          return Fail("bad DECIMALS " + scratch);
      } else if (key == "required") {
        f.required = scratch == "true";
      }
    }
    if (f.attrName.empty()) return Fail("a field without attrname");
    if (!named) f.name = f.attrName;
    static const std::pair<const char*, FieldType> kTypes[] = {
        {"i2", FieldType::I2},           {"i4", FieldType::I4},
        {"i8", FieldType::I8},           {"r8", FieldType::R8},
        {"fixed", FieldType::Fixed},     {"string", FieldType::String},
        {"boolean", FieldType::Boolean}, {"date", FieldType::Date},
        {"time", FieldType::Time},       {"dateTime", FieldType::DateTime}};
    bool known = false;
    for (const auto& [name, t] : kTypes)
      if (type == name) {
        f.type = t;
        known = true;
      }
    if (type == "bin.hex") {
      f.type = subtype == "Text" ? FieldType::Text : FieldType::Binary;
      known = true;
    }
    if (!known) return Fail("unsupported field type \"" + type + "\"");
    f.fixedChar = f.type == FieldType::String && subtype == "FixedChar";
    fields.push_back(std::move(f));
  }

  void OnRow(const XML_Char** atts) {
    packet->AddRow();
    const std::vector<Field>& fs = packet->Fields();
    for (size_t i = 0; atts[i]; i += 2) {
      // Names arrive as UTF-8 like values; the fields know them as bytes.
      if (!ToBytes(atts[i], name)) continue;
      auto it = byAttr.find(name);
      if (it == byAttr.end()) continue;  // such as the RowState of other writers
      size_t c = it->second;
      const Field& f = fs[c];
      const char* raw = atts[i + 1];
      std::string_view v = raw;
      bool ok = true;
      switch (f.type) {
        case FieldType::I2: {
          int16_t x;
          ok = ParseInt(v, x);
          if (ok) packet->SetInt(c, x);
          break;
        }
        case FieldType::I4: {
          int32_t x;
          ok = ParseInt(v, x);
          if (ok) packet->SetInt(c, x);
          break;
        }
        case FieldType::I8: {
          int64_t x;
          ok = ParseInt(v, x);
          if (ok) packet->SetInt(c, x);
          break;
        }
        case FieldType::Fixed: {
          int64_t x;
          ok = ParseFixed(v, f.decimals, x);
          if (ok) packet->SetInt(c, x);
          break;
        }
        case FieldType::R8: {
          double x;
          ok = ParseInt(v, x);
          if (ok) packet->SetDouble(c, x);
          break;
        }
        case FieldType::Boolean:
          ok = v == "TRUE" || v == "FALSE" || v == "true" || v == "false";
          if (ok) packet->SetBool(c, v[0] == 'T' || v[0] == 't');
          break;
        case FieldType::Date: {
          Date d;
          ok = ParseDate(v, d);
          if (ok) packet->SetDate(c, d);
          break;
        }
        case FieldType::Time: {
          Time t;
          ok = ParseTime(v, t);
          if (ok) packet->SetTime(c, t);
          break;
        }
        case FieldType::DateTime: {
          DateTime dt;
          ok = v.size() > 9 && v[8] == 'T' && ParseDate(v.substr(0, 8), dt.date) &&
               ParseTime(v.substr(9), dt.time);
          if (ok) packet->SetDateTime(c, dt);
          break;
        }
        case FieldType::String:
        case FieldType::Text:
          if (!ToBytes(raw, scratch))
            return Fail("a character outside ISO-8859-1 in " + f.attrName);
          packet->SetBytes(c, scratch);
          break;
        case FieldType::Binary:
          scratch2.clear();
          ok = detail::DecodeBase64(v, scratch2);
          if (ok) packet->SetBytes(c, scratch2);
          break;
      }
      if (!ok) return Fail("bad value \"" + std::string(v.substr(0, 40)) + "\" for " + f.attrName);
    }
  }

  void OnStart(const XML_Char* name, const XML_Char** atts) {
    std::string_view n = name;
    if (path.empty()) {
      if (seenRoot || n != "DATAPACKET") return Fail("the root element is not DATAPACKET");
      seenRoot = true;
    } else if (n == "FIELD") {
      if (!Parent("FIELDS") || packet) return Fail("FIELD outside METADATA/FIELDS");
      OnField(atts);
    } else if (n == "ROWDATA") {
      if (!Parent("DATAPACKET")) return Fail("ROWDATA outside DATAPACKET");
      StartPacket();
    } else if (n == "ROW") {
      if (!Parent("ROWDATA")) return Fail("ROW outside ROWDATA");
      OnRow(atts);
    }
    path.emplace_back(n);
  }
};

void XMLCALL StartElement(void* data, const XML_Char* name, const XML_Char** atts) {
  Loader* l = static_cast<Loader*>(data);
  try {
    l->OnStart(name, atts);
  } catch (const std::exception& e) {
    // Nothing may unwind through the parser's C frames.
    l->Fail(e.what());
  }
}

void XMLCALL EndElement(void* data, const XML_Char*) {
  Loader* l = static_cast<Loader*>(data);
  if (!l->path.empty()) l->path.pop_back();
}

}  // namespace

Packet LoadXml(std::string_view xml) {
  // The answer body is ISO-8859-1 whatever a declaration says, also without one.
  std::unique_ptr<XML_ParserStruct, ParserDeleter> parser(XML_ParserCreate("ISO-8859-1"));
  if (!parser) throw std::bad_alloc();
  Loader loader;
  loader.parser = parser.get();
  XML_SetUserData(parser.get(), &loader);
  XML_SetElementHandler(parser.get(), StartElement, EndElement);
  constexpr size_t kPiece = size_t{1} << 30;
  size_t at = 0;
  do {
    size_t n = std::min(xml.size() - at, kPiece);
    bool last = at + n == xml.size();
    if (XML_Parse(parser.get(), xml.data() + at, static_cast<int>(n), last) != XML_STATUS_OK) {
      if (!loader.error.empty()) throw Error("Invalid XML data packet: " + loader.error);
      throw Error(std::string("Invalid XML data packet: ") +
                  XML_ErrorString(XML_GetErrorCode(parser.get())) + " at line " +
                  std::to_string(XML_GetCurrentLineNumber(parser.get())) + ", column " +
                  std::to_string(XML_GetCurrentColumnNumber(parser.get())));
    }
    at += n;
  } while (at < xml.size());
  if (!loader.error.empty()) throw Error("Invalid XML data packet: " + loader.error);
  if (!loader.seenRoot) throw Error("Invalid XML data packet: no DATAPACKET element");
  loader.StartPacket();
  if (!loader.error.empty()) throw Error("Invalid XML data packet: " + loader.error);
  return std::move(*loader.packet);
}

}  // namespace kvo::packet
