// Runs one statement through the KVO application server and prints the rows, the way a client
// program of the suite reaches its data in multi-tier mode.
//
//   kvo_query URL DATABASE USER PASSWORD STATEMENT [--compressed] [name=value ...]
//
// URL is the base address in front of the server program (for example
// http://server/kvo); each name=value gives a text parameter for a ":name" marker. The program
// works in UTF-8, the library in Windows-1252: arguments are converted on the way in (a
// character Windows-1252 lacks is refused, not stored as "?") and rows on the way out.
#include <cstdio>
#include <string>

#include "kvo/client/kvo_client.h"

using namespace kvo::client;

// Every failure reaches main as an exception, the server's message included: the error box
// would only say it a second time.
class ErrorsReachMain : public TConsoleUserInterface {
 public:
  void ShowError(const std::string&) override {}
};

int main(int argc, char** argv) {
  if (argc < 6) {
    std::fprintf(stderr,
                 "usage: %s URL DATABASE USER PASSWORD STATEMENT [--compressed] "
                 "[name=value ...]\n",
                 argv[0]);
    return 2;
  }
  ErrorsReachMain ui;
  TScopedUserInterface scope(ui);
  TKVOAppDataSet query;
  query.Name = "Query";
  try {
    query.URL = argv[1];
    query.DataBaseName = Utf8ToWindows1252(argv[2], TUnmappable::Refuse, "The database");
    query.User = Utf8ToWindows1252(argv[3], TUnmappable::Refuse, "The user");
    query.Password = Utf8ToWindows1252(argv[4], TUnmappable::Refuse, "The password");
    for (int i = 6; i < argc; ++i) {
      std::string arg = argv[i];
      size_t eq = arg.find('=');
      if (arg == "--compressed") {
        query.Compressed = true;
      } else if (eq != std::string::npos) {
        query.Params.CreateParam(TFieldType::ftString, arg.substr(0, eq), TParamType::ptInput)
            .SetValue(Utf8ToWindows1252(arg.substr(eq + 1), TUnmappable::Refuse,
                                        "The value of " + arg.substr(0, eq)));
      }
    }
    // A failure (the server's message too) is raised after the error box has shown it.
    query.RunRemote(Utf8ToWindows1252(argv[5], TUnmappable::Refuse, "The statement"), false);
    if (!query.Active()) return 0;  // not a select: it ran, and there are no rows
    for (size_t i = 0; i < query.FieldCount(); ++i) {
      std::printf("%s%s", i ? "\t" : "", Windows1252ToUtf8(query.Fields(i).FieldName()).c_str());
    }
    std::printf("\n");
    for (query.First(); !query.Eof(); query.Next()) {
      for (size_t i = 0; i < query.FieldCount(); ++i) {
        std::printf("%s%s", i ? "\t" : "", Windows1252ToUtf8(query.Fields(i).AsString()).c_str());
      }
      std::printf("\n");
    }
    std::printf("(%d rows)\n", query.RecordCount());
  } catch (const kvo::Error& e) {
    TConsoleUserInterface().ShowError(e.what());
    return 1;
  }
  return 0;
}
