// kvoclient: see kvoclient.h and the README.
#include <iostream>

#include "tools/kvoclient/kvoclient.h"

int main(int argc, char** argv) {
  const int status = kvo::kvoclient::RunKvoClient(argc, argv, std::cout, std::cerr);
  std::cout.flush();
  return status;
}
