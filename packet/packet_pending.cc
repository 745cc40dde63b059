// Renderings and loaders still being built: they fail plainly until then.
#include "packet/packet.h"

namespace kvo::packet {

namespace {
[[noreturn]] void Pending(const char* what) {
  throw Error(std::string("Data packets: ") + what + " is not available yet");
}
}  // namespace

void MakeAttrNames(std::vector<Field>&) {
  Pending("renaming");
}
Packet BuildPacket(fb::ResultSet&) {
  Pending("building");
}
Packet BuildPacket(fb::ResultSet&, const std::vector<fb::Column>&) {
  Pending("building");
}
std::vector<Field> FieldsFor(const std::vector<fb::Column>&) {
  Pending("building");
}
void RenderXml(const Packet&, std::string&) {
  Pending("the XML rendering");
}
std::string RenderXml(const Packet&) {
  Pending("the XML rendering");
}
Packet LoadXml(std::string_view) {
  Pending("the XML loader");
}
void RenderBinary(const Packet&, platform::MemoryStream&) {
  Pending("the binary rendering");
}
std::string RenderBinary(const Packet&) {
  Pending("the binary rendering");
}
Packet LoadBinary(platform::MemoryStream&) {
  Pending("the binary loader");
}
Packet LoadBinary(std::string_view) {
  Pending("the binary loader");
}

}  // namespace kvo::packet
