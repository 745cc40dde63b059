// TClientDataSet over a data packet: loading both renderings, fields and NULL, navigation,
// keeping the packet across close and open, and the failures.
#include <gtest/gtest.h>

#include "kvo/client/db.h"
#include "packet/packet.h"

namespace kvo::client {
namespace {

// Three rows of every kind of column, the second one all NULL.
packet::Packet SamplePacket() {
  using packet::FieldType;
  std::vector<packet::Field> fields = {
      {"", "ID", FieldType::I4, 0, 0, false, true},
      {"", "NAME", FieldType::String, 20, 0, false, false},
      {"", "PRICE", FieldType::Fixed, 18, 2, false, false},
      {"", "RATE", FieldType::R8, 0, 0, false, false},
      {"", "BORN", FieldType::Date, 0, 0, false, false},
      {"", "AT", FieldType::DateTime, 0, 0, false, false},
      {"", "NOTE", FieldType::Text, 0, 0, false, false},
      {"", "OK", FieldType::Boolean, 0, 0, false, false},
      {"", "BIG", FieldType::I8, 0, 0, false, false},
  };
  packet::MakeAttrNames(fields);
  packet::Packet p(fields);
  p.AddRow();
  p.SetInt(0, 1);
  p.SetBytes(1, "Jo\xE3o");
  p.SetInt(2, 1250);
  p.SetDouble(3, 2.5);
  p.SetDate(4, {1990, 5, 17});
  p.SetDateTime(5, {{2024, 3, 7}, {13, 45, 10, 0}});
  p.SetBytes(6, "line1\r\nline2");
  p.SetBool(7, true);
  p.SetInt(8, 9007199254740993);
  p.AddRow();
  p.SetInt(0, 2);
  p.AddRow();
  p.SetInt(0, 3);
  p.SetBytes(1, "O'Brien");
  return p;
}

std::string SampleXml() {
  return "<?xml version=\"1.0\" encoding=\"ISO-8859-1\" standalone=\"yes\"?> " +
         packet::RenderXml(SamplePacket());
}

void ExpectSampleRows(TClientDataSet& ds) {
  ASSERT_TRUE(ds.Active());
  ASSERT_EQ(ds.FieldCount(), 9u);
  EXPECT_EQ(ds.RecordCount(), 3);
  EXPECT_EQ(ds.Fields(0).DataType(), TFieldType::ftInteger);
  EXPECT_EQ(ds.FieldByName("name").DataType(), TFieldType::ftString);
  EXPECT_EQ(ds.FieldByName("NAME").Size(), 20);
  EXPECT_EQ(ds.FieldByName("PRICE").DataType(), TFieldType::ftBCD);
  EXPECT_EQ(ds.FieldByName("RATE").DataType(), TFieldType::ftFloat);
  EXPECT_EQ(ds.FieldByName("BORN").DataType(), TFieldType::ftDate);
  EXPECT_EQ(ds.FieldByName("AT").DataType(), TFieldType::ftDateTime);
  EXPECT_EQ(ds.FieldByName("NOTE").DataType(), TFieldType::ftMemo);
  EXPECT_EQ(ds.FieldByName("OK").DataType(), TFieldType::ftBoolean);
  EXPECT_EQ(ds.FieldByName("BIG").DataType(), TFieldType::ftLargeint);

  ds.First();
  EXPECT_EQ(ds.RecNo(), 1);
  EXPECT_EQ(ds.FieldByName("ID").AsInteger(), 1);
  EXPECT_EQ(ds.FieldByName("NAME").AsString(), "Jo\xE3o");
  EXPECT_EQ(ds.FieldByName("PRICE").AsString(), "12.50");
  EXPECT_DOUBLE_EQ(ds.FieldByName("PRICE").AsFloat(), 12.5);
  EXPECT_EQ(ds.FieldByName("RATE").AsString(), "2.5");
  EXPECT_EQ(ds.FieldByName("BORN").AsString(), "1990-05-17");
  EXPECT_EQ(ds.FieldByName("AT").AsString(), "2024-03-07 13:45:10");
  EXPECT_EQ(ds.FieldByName("AT").AsDateTime(), (TDateTime{{2024, 3, 7}, {13, 45, 10, 0}}));
  EXPECT_EQ(ds.FieldByName("NOTE").AsString(), "line1\r\nline2");
  EXPECT_TRUE(ds.FieldByName("OK").AsBoolean());
  EXPECT_EQ(ds.FieldByName("BIG").AsLargeInt(), 9007199254740993);
  EXPECT_FALSE(ds.FieldByName("NAME").IsNull());

  ds.Next();
  EXPECT_EQ(ds.RecNo(), 2);
  for (const char* name : {"NAME", "PRICE", "RATE", "BORN", "AT", "NOTE", "OK", "BIG"}) {
    EXPECT_TRUE(ds.FieldByName(name).IsNull()) << name;
    EXPECT_EQ(ds.FieldByName(name).AsString(), "") << name;
    EXPECT_TRUE(std::holds_alternative<TNull>(ds.FieldByName(name).Value())) << name;
  }
  EXPECT_EQ(ds.FieldByName("BIG").AsInteger(), 0);

  ds.Next();
  EXPECT_EQ(ds.FieldByName("NAME").AsString(), "O'Brien");
  EXPECT_FALSE(ds.Eof());
  ds.Next();
  EXPECT_TRUE(ds.Eof());
  EXPECT_EQ(ds.RecNo(), 3);
}

TEST(ClientDataSetTest, LoadsTheXmlAnswerWithItsDeclaration) {
  TClientDataSet ds;
  ds.LoadFromXml(SampleXml());
  ExpectSampleRows(ds);
}

TEST(ClientDataSetTest, LoadsTheBinaryRendering) {
  TClientDataSet ds;
  ds.LoadFromBinary(packet::RenderBinary(SamplePacket()));
  ExpectSampleRows(ds);
}

TEST(ClientDataSetTest, Navigation) {
  TClientDataSet ds;
  ds.LoadFromXml(SampleXml());
  EXPECT_TRUE(ds.Bof());
  EXPECT_FALSE(ds.Eof());
  ds.Last();
  EXPECT_TRUE(ds.Eof());
  EXPECT_EQ(ds.FieldByName("ID").AsInteger(), 3);
  ds.Prior();
  EXPECT_FALSE(ds.Eof());
  EXPECT_EQ(ds.FieldByName("ID").AsInteger(), 2);
  ds.Prior();
  ds.Prior();
  EXPECT_TRUE(ds.Bof());
  EXPECT_EQ(ds.FieldByName("ID").AsInteger(), 1);
  int seen = 0;
  for (ds.First(); !ds.Eof(); ds.Next()) ++seen;
  EXPECT_EQ(seen, 3);
}

TEST(ClientDataSetTest, EmptyResultHasColumnsAndNoRows) {
  packet::Packet p({{"ID", "ID", packet::FieldType::I4, 0, 0, false, false}});
  TClientDataSet ds;
  ds.LoadFromBinary(packet::RenderBinary(p));
  EXPECT_TRUE(ds.Active());
  EXPECT_TRUE(ds.IsEmpty());
  EXPECT_TRUE(ds.Bof());
  EXPECT_TRUE(ds.Eof());
  EXPECT_EQ(ds.RecNo(), 0);
  EXPECT_TRUE(ds.FieldByName("ID").IsNull());
}

TEST(ClientDataSetTest, ClosingKeepsThePacketAndLoadingReplacesIt) {
  TClientDataSet ds;
  ds.LoadFromXml(SampleXml());
  ds.Close();
  EXPECT_FALSE(ds.Active());
  EXPECT_EQ(ds.RecordCount(), 0);
  ds.Open();
  EXPECT_EQ(ds.RecordCount(), 3);
  ds.Close();

  packet::Packet other({{"X", "X", packet::FieldType::I4, 0, 0, false, false}});
  other.AddRow();
  other.SetInt(0, 42);
  ds.LoadFromBinary(packet::RenderBinary(other));
  ds.Close();
  ds.Open();
  EXPECT_EQ(ds.RecordCount(), 1);
  EXPECT_EQ(ds.FieldByName("X").AsInteger(), 42);
}

TEST(ClientDataSetTest, APacketThatFailsToLoadReplacesThePreviousOne) {
  TClientDataSet ds;
  ds.LoadFromXml(SampleXml());
  std::string first;
  try {
    ds.LoadFromXml("<html>not a packet</html>");
    FAIL() << "no failure";
  } catch (const Error& e) {
    first = e.what();
  }
  EXPECT_FALSE(ds.Active());
  try {
    ds.Open();
    FAIL() << "the old rows came back";
  } catch (const Error& e) {
    EXPECT_EQ(e.what(), first);
  }
  EXPECT_THROW(ds.LoadFromBinary("\x01\x02"), Error);
  EXPECT_FALSE(ds.Active());
}

TEST(ClientDataSetTest, OpeningWithoutAPacket) {
  TClientDataSet anonymous;
  try {
    anonymous.Open();
    FAIL();
  } catch (const Error& e) {
    EXPECT_STREQ(e.what(), "Provedor de dados ou base de dados perdidos");
  }
  TClientDataSet named;
  named.Name = "Query1";
  try {
    named.SetActive(true);
    FAIL();
  } catch (const Error& e) {
    EXPECT_STREQ(e.what(), "Query1: Provedor de dados ou base de dados perdidos");
  }
  EXPECT_FALSE(named.Active());
}

TEST(ClientDataSetTest, FieldAccessFailures) {
  TClientDataSet ds;
  ds.Name = "Q";
  EXPECT_THROW(ds.FieldByName("ID"), Error);
  ds.LoadFromXml(SampleXml());
  try {
    ds.FieldByName("MISSING");
    FAIL();
  } catch (const Error& e) {
    EXPECT_STREQ(e.what(), "Q: Field 'MISSING' not found");
  }
  EXPECT_EQ(ds.FindField("missing"), nullptr);
  EXPECT_THROW(ds.FieldByName("NAME").AsInteger(), Error);  // "Jo\xE3o" is no number
}

TEST(ClientDataSetTest, CopyDataSharesThePacket) {
  TClientDataSet source, target;
  EXPECT_THROW(target.CopyDataFrom(source), Error);
  source.LoadFromXml(SampleXml());
  target.CopyDataFrom(source);
  source.Close();
  ExpectSampleRows(target);
}

TEST(ParamsTest, TypedSettersAndLookup) {
  TParams params;
  params.CreateParam(TFieldType::ftUnknown, "Id", TParamType::ptUnknown);
  params.CreateParam(TFieldType::ftUnknown, "id", TParamType::ptUnknown);
  EXPECT_EQ(&params.ParamByName("ID"), &params[0]);
  EXPECT_TRUE(params[0].IsNull());
  params[0].SetAsInteger(5);
  EXPECT_EQ(params[0].DataType, TFieldType::ftInteger);
  EXPECT_EQ(params[0].AsString(), "5");
  params[0].Clear();
  EXPECT_TRUE(params[0].IsNull());
  EXPECT_EQ(params[0].DataType, TFieldType::ftInteger);
  params[1].SetAsDate({2024, 3, 7});
  EXPECT_EQ(params[1].AsString(), "2024-03-07");
  params[1].SetAsTime({8, 9, 10, 0});
  EXPECT_EQ(params[1].AsString(), "08:09:10");
  params[1].SetAsBoolean(false);
  EXPECT_EQ(params[1].AsString(), "False");
  try {
    params.ParamByName("nope");
    FAIL();
  } catch (const Error& e) {
    EXPECT_STREQ(e.what(), "Parameter 'nope' not found");
  }
}

TEST(StringListTest, TextValuesAndChanges) {
  TStringList list;
  int changes = 0;
  list.OnChange = [&] { ++changes; };
  list.SetText("a\r\nb\rc\nd");
  EXPECT_EQ(list.Count(), 4u);
  EXPECT_EQ(list.Text(), "a\r\nb\r\nc\r\nd\r\n");
  list.Add("User_Name=SYSDBA");
  list.Add("password=");
  EXPECT_EQ(list.Values("user_name"), "SYSDBA");
  EXPECT_EQ(list.Values("password"), "");
  EXPECT_EQ(list.Values("missing"), "");
  EXPECT_EQ(changes, 3);
  list.BeginUpdate();
  list.Clear();
  list.Add("x");
  list.Add("y");
  list.EndUpdate();
  EXPECT_EQ(changes, 4);
  TStringList empty;
  EXPECT_EQ(empty.Text(), "");
}

// One exact-numeric column N with the given decimals and unscaled values.
std::string FixedXml(int decimals, std::vector<int64_t> values) {
  std::vector<packet::Field> fields = {
      {"", "N", packet::FieldType::Fixed, 18, decimals, false, false}};
  packet::MakeAttrNames(fields);
  packet::Packet p(fields);
  for (int64_t v : values) {
    p.AddRow();
    p.SetInt(0, v);
  }
  return "<?xml version=\"1.0\" encoding=\"ISO-8859-1\" standalone=\"yes\"?> " +
         packet::RenderXml(p);
}

TEST(FieldTest, ExactNumbersConvertToIntegersWithoutDouble) {
  struct Case {
    int decimals;
    int64_t unscaled;
    int64_t expected;
  } cases[] = {
      {0, 123456789012345678, 123456789012345678},
      {0, -999999999999999999, -999999999999999999},
      {0, INT64_MIN, INT64_MIN},
      {2, 1250, 12},  // halves to even, as before
      {2, 1350, 14},
      {2, 1251, 13},
      {2, -251, -3},
      {2, -50, 0},
      {4, 9007199254740993, 900719925474},
      {4, 9007199254745000, 900719925474},  // .5000 to the even neighbour
  };
  for (const Case& c : cases) {
    TClientDataSet ds;
    ds.LoadFromXml(FixedXml(c.decimals, {c.unscaled}));
    EXPECT_EQ(ds.FieldByName("N").AsLargeInt(), c.expected)
        << c.unscaled << " scale " << c.decimals;
  }
  TClientDataSet ds;
  ds.LoadFromXml(FixedXml(0, {123456789012345678}));
  try {
    ds.FieldByName("N").AsInteger();
    ADD_FAILURE() << "no range error";
  } catch (const Error& e) {
    EXPECT_STREQ(e.what(), "Value 123456789012345678 of field 'N' is out of range");
  }
}

TEST(FieldTest, ReferencesOutliveCloseAndReloadsOfTheSameColumns) {
  TClientDataSet ds;
  ds.LoadFromXml(SampleXml());
  TField& name = ds.FieldByName("NAME");
  ds.Close();
  EXPECT_THROW(name.AsString(), Error) << "a closed data set has no current record";
  ds.Open();
  EXPECT_EQ(name.AsString(), "Jo\xE3o");
  ds.LoadFromBinary(packet::RenderBinary(SamplePacket()));
  EXPECT_EQ(&ds.FieldByName("NAME"), &name) << "the same columns keep the same fields";
  EXPECT_EQ(name.AsString(), "Jo\xE3o");

  // Other columns: the old field stays readable memory but refuses to answer.
  ds.LoadFromXml(FixedXml(0, {7}));
  EXPECT_EQ(ds.FieldByName("N").AsInteger(), 7);
  try {
    name.AsString();
    ADD_FAILURE() << "a stale field answered";
  } catch (const Error& e) {
    EXPECT_STREQ(e.what(), "Field 'NAME' belongs to an earlier result with other columns");
  }
}

TEST(FieldTest, AnEmptyDataSetReadsAsNull) {
  std::string xml = FixedXml(2, {});
  TClientDataSet ds;
  ds.LoadFromXml(xml);
  TField& n = ds.FieldByName("N");
  EXPECT_TRUE(n.IsNull());
  EXPECT_EQ(n.AsString(), "");
  EXPECT_EQ(n.AsInteger(), 0);
  EXPECT_FALSE(n.AsBoolean());
  EXPECT_EQ(n.AsDateTime(), TDateTime{});
}

}  // namespace
}  // namespace kvo::client
