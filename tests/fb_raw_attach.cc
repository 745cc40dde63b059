// The bare client API with no check of ours in between: attaches to a database or a services
// manager with exactly the user name and password given. Tests use it as the positive control
// of what the program refuses to send (a user name that ends the server process).
//
//   fb_raw_attach database|services NAME USER PASSWORD
//
// Prints "attached" or the client's failure text; exit code 0 either way, 2 on bad usage.
#include <cstdio>
#include <cstring>
#include <string>

#include "fb/fb_api.h"

int main(int argc, char** argv) {
  using namespace kvo::fb::api;
  if (argc != 5) {
    std::fprintf(stderr, "usage: fb_raw_attach database|services NAME USER PASSWORD\n");
    return 2;
  }
  const bool services = std::strcmp(argv[1], "services") == 0;
  try {
    ParamBlock params(services ? IXpbBuilder::SPB_ATTACH : IXpbBuilder::DPB);
    params.String(services ? isc_spb_user_name : isc_dpb_user_name, argv[3]);
    params.String(services ? isc_spb_password : isc_dpb_password, argv[4]);
    Status status;
    // A tool that ends right after: a failed detach leaves nothing worth releasing.
    if (services)
      Provider()
          ->attachServiceManager(&status, argv[2], params.length(), params.data())
          ->detach(&status);
    else
      Provider()->attachDatabase(&status, argv[2], params.length(), params.data())->detach(&status);
    std::puts("attached");
  } catch (const kvo::Error& e) {
    std::printf("%s\n", e.what());
  }
  return 0;
}
