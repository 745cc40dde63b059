// The binary packet loader. A packet that loads must render (in both forms) without fault.
#include "fuzz/fuzz_support.h"
#include "packet/packet.h"
#include "platform/error.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  try {
    kvo::packet::Packet packet = kvo::packet::LoadBinary(kvo::fuzz::AsText(data, size));
    kvo::packet::RenderXml(packet);
    kvo::packet::RenderBinary(packet);
  } catch (const kvo::Error&) {
  }
  return 0;
}
