// Runs one statement through the KVO application server and prints the rows, the way a client
// program of the suite reaches its data in multi-tier mode.
//
//   kvo_query URL DATABASE USER PASSWORD STATEMENT [--compressed] [name=value ...]
//
// URL is the base address in front of the server program (for example
// http://server/kvo); each name=value gives a text parameter for a ":name" marker.
#include <cstdio>
#include <string>

#include "kvo/client/kvo_client.h"

int main(int argc, char** argv) {
  using namespace kvo::client;
  if (argc < 6) {
    std::fprintf(stderr,
                 "usage: %s URL DATABASE USER PASSWORD STATEMENT [--compressed] "
                 "[name=value ...]\n",
                 argv[0]);
    return 2;
  }
  TKVOAppDataSet query;
  query.Name = "Query";
  query.URL = argv[1];
  query.DataBaseName = argv[2];
  query.User = argv[3];
  query.Password = argv[4];
  for (int i = 6; i < argc; ++i) {
    std::string arg = argv[i];
    size_t eq = arg.find('=');
    if (arg == "--compressed") {
      query.Compressed = true;
    } else if (eq != std::string::npos) {
      query.Params.CreateParam(TFieldType::ftString, arg.substr(0, eq), TParamType::ptInput)
          .SetValue(arg.substr(eq + 1));
    }
  }
  try {
    query.RunRemote(argv[5], false);
    if (!query.Active()) return 1;  // not a select, or the server's message was shown
    for (size_t i = 0; i < query.FieldCount(); ++i) {
      std::printf("%s%s", i ? "\t" : "", query.Fields(i).FieldName().c_str());
    }
    std::printf("\n");
    for (query.First(); !query.Eof(); query.Next()) {
      for (size_t i = 0; i < query.FieldCount(); ++i) {
        std::printf("%s%s", i ? "\t" : "", query.Fields(i).AsString().c_str());
      }
      std::printf("\n");
    }
    std::printf("(%d rows)\n", query.RecordCount());
  } catch (const kvo::Error& e) {
    UserInterface().ShowError(e.what());
    return 1;
  }
  return 0;
}
