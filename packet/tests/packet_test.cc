// Both renderings of the data packet: golden XML, round trips of every type, renaming.
#include <gtest/gtest.h>

#include <cfloat>
#include <climits>

#include "packet/packet.h"

namespace kvo::packet {
namespace {

const char kDeclaration[] = "<?xml version=\"1.0\" encoding=\"ISO-8859-1\" standalone=\"yes\"?> ";

Field F(std::string name, FieldType type, int width = 0, int decimals = 0, bool fixedChar = false,
        bool required = false) {
  Field f;
  f.name = std::move(name);
  f.type = type;
  f.width = width;
  f.decimals = decimals;
  f.fixedChar = fixedChar;
  f.required = required;
  return f;
}

Packet Make(std::vector<Field> fields) {
  MakeAttrNames(fields);
  return Packet(std::move(fields));
}

// Compares every field and value.
void ExpectSame(const Packet& want, const Packet& got) {
  ASSERT_EQ(want.Fields(), got.Fields());
  ASSERT_EQ(want.RowCount(), got.RowCount());
  for (size_t r = 0; r < want.RowCount(); ++r) {
    for (size_t c = 0; c < want.FieldCount(); ++c) {
      SCOPED_TRACE("row " + std::to_string(r) + " field " + want.Fields()[c].attrName);
      ASSERT_EQ(want.IsNull(r, c), got.IsNull(r, c));
      if (want.IsNull(r, c)) continue;
      switch (want.Fields()[c].type) {
        case FieldType::I2:
        case FieldType::I4:
        case FieldType::I8:
        case FieldType::Fixed:
          EXPECT_EQ(want.GetInt(r, c), got.GetInt(r, c));
          break;
        case FieldType::R8: {
          double a = want.GetDouble(r, c), b = got.GetDouble(r, c);
          EXPECT_EQ(0, std::memcmp(&a, &b, sizeof a)) << a << " vs " << b;
          break;
        }
        case FieldType::Boolean:
          EXPECT_EQ(want.GetBool(r, c), got.GetBool(r, c));
          break;
        case FieldType::Date:
          EXPECT_EQ(want.GetDate(r, c), got.GetDate(r, c));
          break;
        case FieldType::Time:
          EXPECT_EQ(want.GetTime(r, c), got.GetTime(r, c));
          break;
        case FieldType::DateTime: {
          DateTime a = want.GetDateTime(r, c), b = got.GetDateTime(r, c);
          EXPECT_EQ(a.date, b.date);
          EXPECT_EQ(a.time, b.time);
          break;
        }
        default:
          EXPECT_EQ(want.GetBytes(r, c), got.GetBytes(r, c));
          break;
      }
    }
  }
}

TEST(PacketXml, GoldenSmallPacket) {
  Packet p =
      Make({F("ID", FieldType::I4, 0, 0, false, true), F("NAME", FieldType::String, 10),
            F("CODE", FieldType::String, 3, 0, true), F("PRICE", FieldType::Fixed, 15, 2),
            F("SOLD", FieldType::Date), F("AT", FieldType::Time), F("STAMP", FieldType::DateTime),
            F("OK", FieldType::Boolean), F("RATE", FieldType::R8), F("MEMO", FieldType::Text),
            F("DATA", FieldType::Binary), F("RDB$NAME", FieldType::I2), F("ID", FieldType::I8)});
  p.AddRow();
  p.SetInt(0, 1);
  p.SetBytes(1, "Jo\xE3o & <\"Z\">'");
  p.SetBytes(2, "AB ");
  p.SetInt(3, -5);
  p.SetDate(4, Date{2024, 2, 29});
  p.SetTime(5, Time{23, 59, 58, 1239});
  p.SetDateTime(6, DateTime{Date{1, 1, 1}, Time{0, 0, 0, 0}});
  p.SetBool(7, true);
  p.SetDouble(8, 0.1);
  p.SetBytes(9, "a\tb\r\nc\x01");
  p.SetBytes(10, std::string("\x00\xFF\x10", 3));
  p.SetInt(11, -32768);
  p.SetInt(12, INT64_MIN);
  p.AddRow();  // all NULL but the id and an empty name
  p.SetInt(0, 2);
  p.SetBytes(1, "");

  const std::string golden =
      "<DATAPACKET Version=\"2.0\"><METADATA><FIELDS>"
      "<FIELD attrname=\"ID\" fieldtype=\"i4\" required=\"true\"/>"
      "<FIELD attrname=\"NAME\" fieldtype=\"string\" WIDTH=\"10\"/>"
      "<FIELD attrname=\"CODE\" fieldtype=\"string\" SUBTYPE=\"FixedChar\" WIDTH=\"3\"/>"
      "<FIELD attrname=\"PRICE\" fieldtype=\"fixed\" DECIMALS=\"2\" WIDTH=\"15\"/>"
      "<FIELD attrname=\"SOLD\" fieldtype=\"date\"/>"
      "<FIELD attrname=\"AT\" fieldtype=\"time\"/>"
      "<FIELD attrname=\"STAMP\" fieldtype=\"dateTime\"/>"
      "<FIELD attrname=\"OK\" fieldtype=\"boolean\"/>"
      "<FIELD attrname=\"RATE\" fieldtype=\"r8\"/>"
      "<FIELD attrname=\"MEMO\" fieldtype=\"bin.hex\" SUBTYPE=\"Text\"/>"
      "<FIELD attrname=\"DATA\" fieldtype=\"bin.hex\" SUBTYPE=\"Binary\"/>"
      "<FIELD attrname=\"RDB_NAME\" fieldname=\"RDB$NAME\" fieldtype=\"i2\"/>"
      "<FIELD attrname=\"ID_1\" fieldname=\"ID\" fieldtype=\"i8\"/>"
      "</FIELDS><PARAMS/></METADATA><ROWDATA>"
      "<ROW ID=\"1\" NAME=\"Jo\xE3o &amp; &lt;&quot;Z&quot;&gt;&apos;\" CODE=\"AB \" "
      "PRICE=\"-0.05\" SOLD=\"20240229\" AT=\"23:59:581239\" STAMP=\"00010101T00:00:00000\" "
      "OK=\"TRUE\" RATE=\"0.1\" MEMO=\"a&#9;b&#13;&#10;c&#xE001;\" DATA=\"AP8Q\" "
      "RDB_NAME=\"-32768\" ID_1=\"-9223372036854775808\"/>"
      "<ROW ID=\"2\" NAME=\"\"/>"
      "</ROWDATA></DATAPACKET>";
  EXPECT_EQ(golden, RenderXml(p));
  // The answer body, declaration included, loads back to the same packet.
  ExpectSame(p, LoadXml(kDeclaration + golden));
}

TEST(PacketXml, EmptyResultKeepsTheFields) {
  Packet p = Make({F("A", FieldType::I4)});
  EXPECT_EQ(
      "<DATAPACKET Version=\"2.0\"><METADATA><FIELDS><FIELD attrname=\"A\" fieldtype=\"i4\"/>"
      "</FIELDS><PARAMS/></METADATA><ROWDATA></ROWDATA></DATAPACKET>",
      RenderXml(p));
  for (const std::string& bytes : {RenderXml(p), RenderBinary(p)}) {
    Packet q = bytes[0] == '<' ? LoadXml(bytes) : LoadBinary(bytes);
    EXPECT_EQ(p.Fields(), q.Fields());
    EXPECT_EQ(0u, q.RowCount());
  }
}

TEST(PacketNames, RenamingRule) {
  struct Case {
    std::vector<std::string> names;
    std::vector<std::string> attrs;
  } cases[] = {
      {{"CONSTANT", "CONSTANT"}, {"CONSTANT", "CONSTANT_1"}},
      {{"ID", "id", "ID_1", "ID"}, {"ID", "id_1", "ID_1_1", "ID_2"}},
      {{"RDB$RELATION_NAME"}, {"RDB_RELATION_NAME"}},
      {{"1ST", "", "my col", "x:y"}, {"_1ST", "COLUMN", "my_col", "x_y"}},
      {{"A\xE7\xE3o", "\xD7"}, {"A\xE7\xE3o", "_"}},
      // A namespace declaration to namespace-aware readers; xmlns:a already loses its colon.
      {{"xmlns", "XMLNS", "XmlNs", "xmlns:a", "xmlnsx", "_xmlns"},
       {"_xmlns", "_XMLNS_1", "_XmlNs_2", "xmlns_a", "xmlnsx", "_xmlns_3"}},
  };
  for (const Case& c : cases) {
    std::vector<Field> fields;
    for (const std::string& n : c.names) fields.push_back(F(n, FieldType::I4));
    MakeAttrNames(fields);
    std::vector<std::string> attrs;
    for (const Field& f : fields) attrs.push_back(f.attrName);
    EXPECT_EQ(c.attrs, attrs) << c.names[0];
  }
}

// Every character of Windows-1252 in a column name: the name and the value under it come back
// from both renderings (a name beyond ASCII once found no field in the XML rows).
TEST(PacketNames, EveryCharacterOfTheCodePageRoundTrips) {
  std::vector<Field> fields;
  for (int b = 0x20; b <= 0xFF; ++b) {
    if (b == 0x81 || b == 0x8D || b == 0x8F || b == 0x90 || b == 0x9D) continue;
    const char c = static_cast<char>(b);
    fields.push_back(F(std::string(1, c), FieldType::I4));
    fields.push_back(F(std::string("Pre") + c + "o", FieldType::String, 5));
  }
  fields.push_back(F("xmlns", FieldType::I4));
  Packet p = Make(fields);
  p.AddRow();
  for (size_t c = 0; c < p.FieldCount(); ++c) {
    if (p.Fields()[c].type == FieldType::I4)
      p.SetInt(c, static_cast<int64_t>(c));
    else
      p.SetBytes(c, p.Fields()[c].name);
  }
  platform::MemoryStream stream;
  RenderBinary(p, stream);
  stream.SetPosition(0);
  {
    SCOPED_TRACE("binary");
    ExpectSame(p, LoadBinary(stream));
  }
  {
    SCOPED_TRACE("xml");
    ExpectSame(p, LoadXml(kDeclaration + RenderXml(p)));
  }
}

// Every type at its edges, through both renderings.
TEST(PacketRoundTrip, EveryTypeThroughBothRenderings) {
  std::string allBytes;
  for (int i = 1; i < 256; ++i) allBytes.push_back(static_cast<char>(i));
  std::string control;
  for (int i = 0; i < 0x20; ++i) control.push_back(static_cast<char>(i));
  std::string big(3 * 1024 * 1024 + 17, '\0');
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 131 + (i >> 9));
  std::string maxVarchar(32765, 'x');
  maxVarchar[0] = '\xFF';

  Packet p = Make({F("I2", FieldType::I2), F("I4", FieldType::I4), F("I8", FieldType::I8),
                   F("N184", FieldType::Fixed, 18, 4), F("N92", FieldType::Fixed, 9, 2),
                   F("R8", FieldType::R8), F("S", FieldType::String, 32765),
                   F("C", FieldType::String, 10, 0, true), F("B", FieldType::Boolean),
                   F("D", FieldType::Date), F("T", FieldType::Time), F("TS", FieldType::DateTime),
                   F("MEMO", FieldType::Text), F("BIN", FieldType::Binary)});
  struct Row {
    int64_t i2, i4, i8, n184, n92;
    double r8;
    std::string s, c;
    bool b;
    Date d;
    Time t;
    DateTime ts;
    std::string memo, bin;
  };
  const Row rows[] = {
      {INT16_MIN, INT32_MIN, INT64_MIN, INT64_MIN, -1, -DBL_MAX, "", "          ", false,
       Date{1, 1, 1}, Time{0, 0, 0, 0}, DateTime{Date{1, 1, 1}, Time{0, 0, 0, 0}}, "", ""},
      {INT16_MAX, INT32_MAX, INT64_MAX, INT64_MAX, 1, 1e308, maxVarchar, "ab        ", true,
       Date{9999, 12, 31}, Time{23, 59, 59, 9999},
       DateTime{Date{9999, 12, 31}, Time{23, 59, 59, 9999}}, big, big},
      {0, 0, 0, 0, 0, 0.1, allBytes, "\x80\x9F\xFF\t\r\n<&>\"'", true, Date{2000, 2, 29},
       Time{12, 0, 0, 5}, DateTime{Date{1900, 1, 1}, Time{1, 2, 3, 4560}}, control, allBytes},
      {-1, 5, 10, 123456789012345678, -99, 5e-324, " lead and trail ", "x\x01\x1F       ", false,
       Date{1970, 1, 1}, Time{0, 0, 1, 10}, DateTime{}, std::string(1, '\0'), control},
  };
  for (const Row& r : rows) {
    p.AddRow();
    p.SetInt(0, r.i2);
    p.SetInt(1, r.i4);
    p.SetInt(2, r.i8);
    p.SetInt(3, r.n184);
    p.SetInt(4, r.n92);
    p.SetDouble(5, r.r8);
    p.SetBytes(6, r.s);
    p.SetBytes(7, r.c);
    p.SetBool(8, r.b);
    p.SetDate(9, r.d);
    p.SetTime(10, r.t);
    p.SetDateTime(11, r.ts);
    p.SetBytes(12, r.memo);
    p.SetBytes(13, r.bin);
  }
  p.AddRow();  // every value NULL

  {
    SCOPED_TRACE("binary");
    platform::MemoryStream stream;
    RenderBinary(p, stream);
    stream.SetPosition(0);
    ExpectSame(p, LoadBinary(stream));
  }
  {
    SCOPED_TRACE("xml");
    std::string xml = RenderXml(p);
    ExpectSame(p, LoadXml(kDeclaration + xml));
    EXPECT_EQ(std::string::npos, xml.find('\n'));
  }
  EXPECT_EQ("-922337203685477.5808", p.GetFixedText(0, 3));
  EXPECT_EQ("922337203685477.5807", p.GetFixedText(1, 3));
  EXPECT_EQ("-0.01", p.GetFixedText(0, 4));
}

TEST(PacketXml, ValuesAsTheLayoutWritesThem) {
  Packet p = Make({F("N", FieldType::Fixed, 18, 4), F("R", FieldType::R8)});
  struct Case {
    int64_t n;
    double r;
    const char* want;
  } cases[] = {
      {INT64_MIN, 1e308, "<ROW N=\"-922337203685477.5808\" R=\"1e+308\"/>"},
      {INT64_MAX, 0.1, "<ROW N=\"922337203685477.5807\" R=\"0.1\"/>"},
      {0, -0.0, "<ROW N=\"0.0000\" R=\"-0\"/>"},
      {120000, 1.0 / 3, "<ROW N=\"12.0000\" R=\"0.3333333333333333\"/>"},
  };
  for (const Case& c : cases) {
    p.AddRow();
    p.SetInt(0, c.n);
    p.SetDouble(1, c.r);
  }
  std::string xml = RenderXml(p);
  for (const Case& c : cases) EXPECT_NE(std::string::npos, xml.find(c.want)) << c.want;
}

// Millisecond values keep three fraction digits; a fourth one is written only when it is not 0,
// and the loader takes both forms, so the XML rendering carries what the binary one carries.
TEST(PacketXml, TimeFractionsInBothForms) {
  Packet p = Make({F("T", FieldType::Time), F("TS", FieldType::DateTime)});
  struct Case {
    int fraction;
    const char* time;
  } cases[] = {
      {0, "13:14:15000"},  {1230, "13:14:15123"},  {4567, "13:14:154567"}, {4560, "13:14:15456"},
      {5, "13:14:150005"}, {9999, "13:14:159999"}, {10, "13:14:15001"},
  };
  for (const Case& c : cases) {
    p.AddRow();
    p.SetTime(0, Time{13, 14, 15, c.fraction});
    p.SetDateTime(1, DateTime{Date{2024, 2, 29}, Time{13, 14, 15, c.fraction}});
  }
  std::string xml = RenderXml(p);
  for (const Case& c : cases) {
    std::string row = "<ROW T=\"" + std::string(c.time) + "\" TS=\"20240229T" + c.time + "\"/>";
    EXPECT_NE(std::string::npos, xml.find(row)) << row;
  }
  ExpectSame(p, LoadXml(xml));

  const std::string head =
      "<DATAPACKET Version=\"2.0\"><METADATA><FIELDS><FIELD attrname=\"T\" fieldtype=\"time\"/>"
      "</FIELDS><PARAMS/></METADATA><ROWDATA><ROW T=\"";
  const std::string tail = "\"/></ROWDATA></DATAPACKET>";
  EXPECT_EQ((Time{13, 14, 15, 0}), LoadXml(head + "13:14:15" + tail).GetTime(0, 0));
  for (const char* bad : {"13:14:151", "13:14:1512", "13:14:1512345", "13:14:15123x"})
    EXPECT_THROW(LoadXml(head + bad + tail), Error) << bad;
}

TEST(PacketXml, RejectsMalformedInput) {
  const std::string head =
      "<DATAPACKET Version=\"2.0\"><METADATA><FIELDS><FIELD attrname=\"A\" fieldtype=\"i2\"/>"
      "</FIELDS><PARAMS/></METADATA><ROWDATA>";
  const std::string tail = "</ROWDATA></DATAPACKET>";
  struct Case {
    std::string xml;
    std::string error;
  } cases[] = {
      {"", "Invalid XML data packet: no element found at line 1, column 0"},
      {head, "Invalid XML data packet: no element found"},
      {head + "<ROW A=\"40000\"/>" + tail, "bad value \"40000\" for A"},
      {head + "<ROW A=\"x\"/>" + tail, "bad value \"x\" for A"},
      {"<PACKET/>", "the root element is not DATAPACKET"},
      {"<DATAPACKET><METADATA><FIELDS><FIELD attrname=\"A\" fieldtype=\"ui9\"/></FIELDS>"
       "</METADATA></DATAPACKET>",
       "unsupported field type \"ui9\""},
      {"<DATAPACKET><ROW/></DATAPACKET>", "ROW outside ROWDATA"},
  };
  for (const Case& c : cases) {
    try {
      LoadXml(c.xml);
      ADD_FAILURE() << "loaded: " << c.xml;
    } catch (const Error& e) {
      EXPECT_NE(std::string::npos, std::string(e.what()).find(c.error)) << e.what();
    }
  }
}

}  // namespace
}  // namespace kvo::packet
