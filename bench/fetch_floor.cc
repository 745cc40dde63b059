// The floor of /sql: attach, fetch every row and read every blob, write nothing.
// Usage: kvo_bench_fetch DATABASE USER PASSWORD SQL
#include <unistd.h>

#include <cstdio>
#include <string>

#include "fb/fb.h"

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: %s DATABASE USER PASSWORD SQL\n", argv[0]);
    return 2;
  }
  try {
    using namespace kvo::fb;
    Attachment a = Attachment::Open(
        argv[1], {std::string("user_name=") + argv[2], std::string("password=") + argv[3]});
    Transaction t = a.StartTransaction();
    Statement s = a.Prepare(t, argv[4]);
    ResultSet rows = s.Open();
    std::vector<size_t> blobs;
    for (size_t c = 0; c < rows.Columns().size(); ++c)
      if (rows.Columns()[c].type == SqlType::Blob) blobs.push_back(c);
    std::string blob;
    size_t count = 0;
    while (rows.Fetch()) {
      ++count;
      for (size_t c : blobs) {
        blob.clear();
        rows.ReadBlob(c, blob);
      }
    }
    rows.Close();
    a.Close();
    if (count == 0) std::fprintf(stderr, "no rows\n");
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  // Ends as /sql does, without the client library's exit handlers: a floor, not a straw man.
  _exit(0);
}
