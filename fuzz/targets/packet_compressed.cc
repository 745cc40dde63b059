// A compressed answer as the client reads it: inflated, then loaded as a binary packet.
#include "fuzz/fuzz_support.h"
#include "packet/compress.h"
#include "packet/packet.h"
#include "platform/error.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  try {
    kvo::platform::MemoryStream source(std::string(kvo::fuzz::AsText(data, size)));
    kvo::platform::MemoryStream target;
    kvo::packet::DecompressStream(source, target);
    kvo::packet::Packet packet = kvo::packet::LoadBinary(target);
    kvo::packet::RenderXml(packet);
  } catch (const kvo::Error&) {
  }
  return 0;
}
