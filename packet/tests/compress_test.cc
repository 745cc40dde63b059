// CompressStream and DecompressStream: zlib format, positions, failures.
#include "packet/compress.h"

#include <gtest/gtest.h>

#include "platform/error.h"

namespace kvo::packet {
namespace {

TEST(Compress, RoundTripAndPositions) {
  std::string text;
  for (int i = 0; i < 200000; ++i) text += "row " + std::to_string(i % 977) + ";";
  for (const std::string& data : {std::string(), std::string("x"), text}) {
    platform::MemoryStream source(data);
    source.SetPosition(source.Size());  // compression reads from the start anyway
    platform::MemoryStream packed;
    CompressStream(source, packed);
    ASSERT_GE(packed.Size(), 2u);
    EXPECT_EQ('\x78', packed.Bytes()[0]);
    EXPECT_EQ('\xDA', packed.Bytes()[1]);
    EXPECT_EQ(packed.Size(), packed.Position());
    packed.SetPosition(0);
    platform::MemoryStream plain;
    DecompressStream(packed, plain);
    EXPECT_EQ(data, plain.Bytes());
    EXPECT_EQ(0u, plain.Position());
  }
}

TEST(Compress, WritesAtTheTargetPosition) {
  platform::MemoryStream source(std::string("abc"));
  platform::MemoryStream packed(std::string("HEAD"));
  packed.SetPosition(4);
  CompressStream(source, packed);
  EXPECT_EQ("HEAD", packed.Bytes().substr(0, 4));
  packed.SetPosition(4);  // decompression starts at the source position
  platform::MemoryStream plain;
  DecompressStream(packed, plain);
  EXPECT_EQ("abc", plain.Bytes());
}

TEST(Compress, EmptySourceLeavesTargetEmpty) {
  platform::MemoryStream source;
  platform::MemoryStream target;
  DecompressStream(source, target);
  EXPECT_EQ(0u, target.Size());
  EXPECT_EQ(0u, target.Position());
}

TEST(Compress, DamagedStreamsFailWithError) {
  platform::MemoryStream source(std::string(5000, 'a'));
  platform::MemoryStream packed;
  CompressStream(source, packed);
  const std::string good = packed.Bytes();
  std::string badHeader = good;
  badHeader[0] = '\x00';
  std::string badData = good;
  badData[good.size() - 1] ^= 0x55;  // the Adler-32
  for (const std::string& bad :
       {std::string("not zlib"), good.substr(0, good.size() / 2), badHeader, badData}) {
    platform::MemoryStream in(bad);
    platform::MemoryStream out;
    try {
      DecompressStream(in, out);
      ADD_FAILURE() << "inflated damaged input";
    } catch (const Error& e) {
      EXPECT_STREQ("Error", e.what());
    }
  }
}

}  // namespace
}  // namespace kvo::packet
