// The reference of start_bench: a program that does nothing but is linked with the Firebird
// client library, which the dynamic linker loads at its start as it does for the server.
#include <firebird/Interface.h>

int main(int argc, char**) {
  // A reference the linker cannot drop; never called.
  if (argc < 0) return Firebird::fb_get_master_interface() != nullptr;
  return 0;
}
