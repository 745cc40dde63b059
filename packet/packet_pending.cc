// The data-packet engine (built by the packet work).
namespace kvo::packet {
const char* EngineName() { return "kvo data packets"; }
}  // namespace kvo::packet
