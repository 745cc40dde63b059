// kvoclient: see kvoclient.h and the README.
#include <iostream>

#include "tools/kvoclient/kvoclient.h"
#include "tools/kvoclient/terminal_text.h"

int main(int argc, char** argv) {
  kvo::kvoclient::UseLocaleEncoding();
  int status = 0;
  {
    kvo::kvoclient::TerminalStream out(std::cout);
    kvo::kvoclient::TerminalStream err(std::cerr);
    err << std::unitbuf;
    status = kvo::kvoclient::RunKvoClient(argc, argv, out, err);
  }
  std::cout.flush();
  return status;
}
