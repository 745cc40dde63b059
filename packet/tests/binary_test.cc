// Damaged binary packets: each is refused with a message naming the damage, never read past.
#include <gtest/gtest.h>

#include "packet/packet.h"

namespace kvo::packet {
namespace {

std::string Sample() {
  std::vector<Field> fields(3);
  fields[0].name = "ID";
  fields[0].type = FieldType::I4;
  fields[1].name = "NAME";
  fields[1].type = FieldType::String;
  fields[1].width = 20;
  fields[2].name = "D";
  fields[2].type = FieldType::Date;
  MakeAttrNames(fields);
  Packet p(std::move(fields));
  p.AddRow();
  p.SetInt(0, 7);
  p.SetBytes(1, "seven");
  p.SetDate(2, Date{2020, 5, 17});
  return RenderBinary(p);
}

// Offsets in Sample(): header 12, fields (18 + names) ..., row count, then the row.
size_t RowCountOffset(const std::string& s) {
  return s.size() - 8 - (1 + 4 + 4 + 5 + 4);
}

void ExpectRefused(const std::string& bytes, const std::string& message) {
  try {
    LoadBinary(bytes);
    ADD_FAILURE() << "loaded; wanted " << message;
  } catch (const Error& e) {
    EXPECT_EQ("Invalid binary data packet: " + message, e.what());
  }
}

TEST(PacketBinary, SampleLoads) {
  Packet p = LoadBinary(Sample());
  ASSERT_EQ(1u, p.RowCount());
  EXPECT_EQ("seven", p.GetBytes(0, 1));
}

TEST(PacketBinary, EveryTruncationIsRefused) {
  const std::string s = Sample();
  for (size_t n = 0; n < s.size(); ++n) {
    SCOPED_TRACE(n);
    // Copied so that a read past the cut is caught by the sanitizers.
    std::string cut = s.substr(0, n);
    EXPECT_THROW(LoadBinary(cut), Error);
  }
}

// Any single damaged byte either still loads or is refused with kvo::Error (under the
// sanitizers this also proves that nothing is read out of bounds).
TEST(PacketBinary, EveryDamagedByteLoadsOrIsRefused) {
  const std::string s = Sample();
  for (size_t i = 0; i < s.size(); ++i) {
    for (unsigned char v : {0x00, 0x01, 0x7F, 0x80, 0xFF}) {
      std::string damaged = s;
      damaged[i] = static_cast<char>(v);
      try {
        Packet p = LoadBinary(damaged);
        for (size_t r = 0; r < p.RowCount(); ++r)
          for (size_t c = 0; c < p.FieldCount(); ++c) (void)p.IsNull(r, c);
      } catch (const Error&) {
      }
    }
  }
}

TEST(PacketBinary, DamagedPackets) {
  const std::string s = Sample();
  struct Case {
    const char* name;
    std::string bytes;
    std::string message;
  };
  std::vector<Case> cases;
  cases.push_back({"empty", "", "bad magic number"});
  cases.push_back({"bad magic", "XVOP" + s.substr(4), "bad magic number"});
  {
    std::string v = s;
    v[4] = 2;
    cases.push_back({"future version", v, "unsupported version 2"});
  }
  cases.push_back({"truncated row", s.substr(0, s.size() - 3), "truncated date"});
  cases.push_back({"trailing bytes", s + "x", "trailing bytes after the last row"});
  {
    std::string v = s;
    v[8] = '\xFF';
    v[9] = '\xFF';
    cases.push_back({"field count past the end", v, "field count past the end"});
  }
  {
    std::string v = s;
    v[12] = 99;
    cases.push_back({"unknown field type", v, "unknown field type 99"});
  }
  {
    std::string v = s;
    v[12 + 10] = '\x7F';  // the first field's name length
    cases.push_back({"name length past the end", v, "field name length past the end"});
  }
  {
    std::string v = s;
    v[RowCountOffset(s)] = 50;
    cases.push_back({"row count past the end", v, "row count past the end"});
  }
  {
    std::string v = s;
    size_t len = RowCountOffset(s) + 8 + 1 + 4;  // the NAME length
    v[len + 3] = '\x10';
    cases.push_back({"value length past the end", v, "value length past the end"});
  }
  {
    std::string v = s;
    v[s.size() - 2] = 13;  // month
    cases.push_back({"bad month", v, "date out of range"});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ExpectRefused(c.bytes, c.message);
  }
}

TEST(PacketBinary, LoadsFromTheStreamPosition) {
  platform::MemoryStream stream("junk");
  stream.SetPosition(4);
  Packet p;
  std::string s = Sample();
  stream.Write(s.data(), s.size());
  stream.SetPosition(4);
  EXPECT_EQ(1u, LoadBinary(stream).RowCount());
  EXPECT_EQ(stream.Size(), stream.Position());
}

}  // namespace
}  // namespace kvo::packet
