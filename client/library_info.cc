// The client data-access library.
namespace kvo::client {
const char* LibraryVersion() { return "1.0"; }
}  // namespace kvo::client
