// The client's statement handling: the parameter markers found in a statement (RebuildParams),
// then the statement with every parameter's literal written in (ExpandParams).
//
// Input: line 1 = the value given to every parameter (also tried as a number), rest = the SQL.
#include <cstdlib>

#include "fuzz/fuzz_support.h"
#include "kvo/client/tarvo_query.h"
#include "platform/error.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view rest = kvo::fuzz::AsText(data, size);
  std::string value(kvo::fuzz::TakeLine(rest));
  try {
    kvo::client::TTarvoIBQuery query;
    query.SQL().SetText(rest);
    int i = 0;
    for (kvo::client::TParam& param : query.Params) {
      switch (i++ % 3) {
        case 0:
          param.SetAsString(value);
          break;
        case 1:
          param.SetValue(std::strtod(value.c_str(), nullptr));
          break;
        default:
          break;  // left unassigned
      }
    }
    query.ExpandParams(rest);
  } catch (const kvo::Error&) {
  }
  return 0;
}
