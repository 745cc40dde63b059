// Makes the binary and compressed packet seeds from the XML corpus: every XML input that loads is
// written in binary form, and compressed, into the other two corpora (names are the source's).
// Usage: fuzz_packet_seeds <xml corpus> <binary corpus> <compressed corpus>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "packet/compress.h"
#include "packet/packet.h"
#include "platform/error.h"

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: %s <xml corpus> <binary corpus> <compressed corpus>\n", argv[0]);
    return 2;
  }
  int made = 0;
  for (const auto& entry : std::filesystem::directory_iterator(argv[1])) {
    std::ifstream in(entry.path(), std::ios::binary);
    std::string xml((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    try {
      kvo::platform::MemoryStream binary(kvo::packet::RenderBinary(kvo::packet::LoadXml(xml)));
      kvo::platform::MemoryStream compressed;
      kvo::packet::CompressStream(binary, compressed);
      std::string name = entry.path().filename().string();
      std::ofstream(std::filesystem::path(argv[2]) / name, std::ios::binary) << binary.Bytes();
      std::ofstream(std::filesystem::path(argv[3]) / name, std::ios::binary) << compressed.Bytes();
      ++made;
    } catch (const kvo::Error&) {
    }
  }
  std::printf("%d packets written\n", made);
  return 0;
}
