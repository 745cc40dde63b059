// A bounded burst through the web server (the test environment of scripts/dev-services):
// /sql selects (XML and compressed), inserts, failing statements, /config and /tabelas from
// several threads at once. Every answer is checked, then the statement log (with its rotated
// copies) must hold exactly this run's entries, and no program may be left running. Prints
// requests per second and latency percentiles; exits non-zero when anything was wrong.
#include <curl/curl.h>
#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "configfiles/scramble.h"
#include "configfiles/text_lines.h"
#include "packet/compress.h"
#include "platform/error_page.h"
#include "platform/stream.h"
#include "tests/support/fb_testdb.h"
#include "tests/support/form.h"

namespace {

using Clock = std::chrono::steady_clock;

size_t Count(const std::string& haystack, const std::string& needle) {
  size_t n = 0;
  for (size_t at = haystack.find(needle); at != std::string::npos;
       at = haystack.find(needle, at + needle.size()))
    ++n;
  return n;
}

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

size_t Collect(char* data, size_t size, size_t count, void* user) {
  static_cast<std::string*>(user)->append(data, size * count);
  return size * count;
}

class Curl {
 public:
  Curl() : handle_(curl_easy_init()) {}
  ~Curl() { curl_easy_cleanup(handle_); }
  Curl(const Curl&) = delete;
  Curl& operator=(const Curl&) = delete;

  // Status and body; status 0 when the transfer itself failed.
  long Send(const std::string& url, const std::string* post, std::string& body) {
    body.clear();
    curl_easy_setopt(handle_, CURLOPT_URL, url.c_str());
    curl_easy_setopt(handle_, CURLOPT_WRITEFUNCTION, Collect);
    curl_easy_setopt(handle_, CURLOPT_WRITEDATA, &body);
    curl_easy_setopt(handle_, CURLOPT_TIMEOUT, 120L);
    curl_easy_setopt(handle_, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(handle_, CURLOPT_NOPROXY, "*");
    if (post) {
      curl_easy_setopt(handle_, CURLOPT_POSTFIELDS, post->data());
      curl_easy_setopt(handle_, CURLOPT_POSTFIELDSIZE, static_cast<long>(post->size()));
    } else {
      curl_easy_setopt(handle_, CURLOPT_HTTPGET, 1L);
    }
    if (curl_easy_perform(handle_) != CURLE_OK) return 0;
    long status = 0;
    curl_easy_getinfo(handle_, CURLINFO_RESPONSE_CODE, &status);
    return status;
  }

 private:
  CURL* handle_;
};

// The error page up to its message.
const std::string& ErrorPagePrefix() {
  static const std::string prefix = [] {
    std::string page = kvo::platform::BuildErrorPage("\x01");
    return page.substr(0, page.find('\x01'));
  }();
  return prefix;
}

enum Kind { kXml, kZip, kInsert, kBad, kConfig, kTabelas, kKinds };
const char* const kKindNames[] = {"select XML", "select z=true", "insert",
                                  "bad SQL",    "/config",       "/tabelas"};
// Log entries each kind leaves carrying its request's marker.
const size_t kLogEntries[] = {1, 1, 1, 2, 0, 0};

struct Outcome {
  double ms = 0;
  std::string problem;  // empty when the answer was right
};

struct Load {
  std::string base, drives, run;
  std::unique_ptr<kvo::testing::TempDatabase> db;
  std::vector<Kind> plan;
  std::vector<Outcome> outcomes;
  std::atomic<size_t> next{0};

  std::string Marker(size_t i) const { return "L" + run + "_" + std::to_string(i); }
  std::string Form(const std::string& q, bool z) const {
    return kvo::testing::Form({{"z", z ? "true" : "false"},
                               {"db", db->connection()},
                               {"u", db->user()},
                               {"p", db->password()},
                               {"q", q}});
  }

  // Sends request i and says what is wrong with its answer.
  std::string One(Curl& curl, size_t i) const {
    const std::string m = Marker(i);
    const std::string sql = base + "/kvowebserver.exe/sql";
    std::string body, form;
    long status = 0;
    switch (plan[i]) {
      case kXml:
      case kZip: {
        form = Form("select id, v, '" + m + "' as k from t order by id", plan[i] == kZip);
        status = curl.Send(sql, &form, body);
        if (status != 200) break;
        std::string packet = body;
        if (plan[i] == kZip) {
          try {
            kvo::platform::MemoryStream in(body), out;
            kvo::packet::DecompressStream(in, out);
            packet = out.Bytes();
          } catch (const std::exception& e) {
            return std::string("cannot inflate: ") + e.what();
          }
          if (Count(packet, m) != 3) return "the packet does not hold the 3 rows";
          for (const char* v : {"alfa", "beta", "gama"})
            if (packet.find(v) == std::string::npos) return "a row is missing";
        } else {
          const std::string rows = "<ROW ID=\"1\" V=\"alfa\" K=\"" + m +
                                   "\"/><ROW ID=\"2\" V=\"beta\" K=\"" + m +
                                   "\"/><ROW ID=\"3\" V=\"gama\" K=\"" + m + "\"/></ROWDATA>";
          if (body.rfind("<?xml", 0) != 0 || body.find(rows) == std::string::npos)
            return "wrong XML packet: " + body.substr(0, 300);
        }
        return "";
      }
      case kInsert:
        form =
            Form("insert into t2 (id, k) values (" + std::to_string(i) + ", '" + m + "')", false);
        status = curl.Send(sql, &form, body);
        if (status == 200 && !body.empty()) return "insert answered: " + body.substr(0, 300);
        break;
      case kBad:
        form = Form("bogus_" + m + " from t", false);
        status = curl.Send(sql, &form, body);
        if (status == 200 && body.rfind(ErrorPagePrefix(), 0) != 0)
          return "no error page: " + body.substr(0, 300);
        if (status == 200 && body.find(m) == std::string::npos)
          return "error page without the message: " + body.substr(0, 300);
        break;
      case kConfig: {
        status = curl.Send(base + "/kvowebserver.exe/config?app=AppNet", nullptr, body);
        if (status != 200) break;
        const kvo::config::TextLines lines =
            kvo::config::SplitLines(kvo::config::ScrambleText(body, kvo::config::kScrambleKey));
        if (lines.size() != 11 || lines[0].rfind("URLBase=", 0) != 0 ||
            lines[10].rfind("RDPCards=", 0) != 0)
          return "wrong settings";
        break;
      }
      case kTabelas:
        form = kvo::testing::Form(
            {{"db", db->connection()}, {"u", db->user()}, {"p", db->password()}});
        status = curl.Send(base + "/kvowebserver.exe/tabelas", &form, body);
        if (status == 200 && body != "T\r\nT2\r\n")
          return "wrong table list: " + body.substr(0, 300);
        break;
      default:
        break;
    }
    return status == 200 ? "" : "HTTP status " + std::to_string(status);
  }

  void Worker() {
    Curl curl;
    for (size_t i; (i = next++) < plan.size();) {
      auto start = Clock::now();
      std::string problem = One(curl, i);
      outcomes[i].ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
      outcomes[i].problem = std::move(problem);
    }
  }
};

// Processes of this program that still run for this environment (their KVO_DRIVES is ours),
// and zombies of it.
std::vector<std::string> Leftovers(const std::string& drives) {
  std::vector<std::string> found;
  DIR* proc = opendir("/proc");
  while (const dirent* e = proc ? readdir(proc) : nullptr) {
    if (e->d_name[0] < '1' || e->d_name[0] > '9') continue;
    const std::string dir = std::string("/proc/") + e->d_name;
    std::string stat = Slurp(dir + "/stat");
    size_t close = stat.rfind(')');
    if (stat.find("(kvowebserver)") == std::string::npos || close == std::string::npos) continue;
    char state = stat.size() > close + 2 ? stat[close + 2] : '?';
    if (state == 'Z') {
      found.push_back(std::string("zombie ") + e->d_name);
    } else if (Slurp(dir + "/environ").find("KVO_DRIVES=" + drives) != std::string::npos) {
      found.push_back(std::string("running ") + e->d_name);
    }
  }
  if (proc) closedir(proc);
  return found;
}

double Percentile(const std::vector<double>& sorted, double p) {
  size_t at = static_cast<size_t>(p * static_cast<double>(sorted.size() - 1) + 0.5);
  return sorted[std::min(at, sorted.size() - 1)];
}

}  // namespace

int main(int argc, char** argv) {
  size_t requests = 2000, concurrency = 16;
  for (int a = 1; a + 1 < argc; a += 2) {
    std::string name = argv[a];
    if (name == "--requests")
      requests = std::stoul(argv[a + 1]);
    else if (name == "--concurrency")
      concurrency = std::stoul(argv[a + 1]);
  }
  const char* base = std::getenv("KVO_HTTP_URL");
  const char* drives = std::getenv("KVO_HTTP_DRIVES");
  if (!base || !drives || !std::getenv("KVO_FB_DATADIR")) {
    std::fprintf(stderr, "load_bench: start scripts/dev-services and eval its exports first\n");
    return 2;
  }
  curl_global_init(CURL_GLOBAL_ALL);
  Load load;
  load.base = base;
  load.drives = drives;
  load.run = std::to_string(getpid()) + std::to_string(time(nullptr) % 100000);
  const std::string logs = load.drives + "/C/KVO/KVO.Net/Logs";
  std::filesystem::create_directories(logs);
  int failures = 0;
  try {
    load.db = std::make_unique<kvo::testing::TempDatabase>();
    load.db->Execute({"create table t (id integer not null primary key, v varchar(10))",
                      "create table t2 (id integer not null primary key, k varchar(40))",
                      "insert into t values (1, 'alfa')", "insert into t values (2, 'beta')",
                      "insert into t values (3, 'gama')"});
    // Weights: selects most, then inserts, failures, settings and table lists.
    const Kind cycle[] = {kXml, kZip, kInsert, kXml, kBad, kConfig, kZip, kTabelas, kXml, kInsert};
    for (size_t i = 0; i < requests; ++i) load.plan.push_back(cycle[i % std::size(cycle)]);
    load.outcomes.resize(requests);

    auto start = Clock::now();
    std::vector<std::thread> threads;
    for (size_t t = 0; t < concurrency; ++t) threads.emplace_back([&load] { load.Worker(); });
    for (auto& t : threads) t.join();
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();

    std::map<Kind, size_t> perKind;
    std::vector<double> all;
    for (size_t i = 0; i < requests; ++i) {
      ++perKind[load.plan[i]];
      all.push_back(load.outcomes[i].ms);
      if (!load.outcomes[i].problem.empty() && ++failures <= 20)
        std::printf("WRONG #%zu (%s): %s\n", i, kKindNames[load.plan[i]],
                    load.outcomes[i].problem.c_str());
    }
    std::sort(all.begin(), all.end());
    std::printf("%zu requests, concurrency %zu, %.2f s: %.1f requests/s\n", requests, concurrency,
                seconds, static_cast<double>(requests) / seconds);
    std::printf("latency ms: p50 %.1f  p90 %.1f  p99 %.1f  max %.1f\n", Percentile(all, 0.5),
                Percentile(all, 0.9), Percentile(all, 0.99), all.back());
    for (int k = 0; k < kKinds; ++k) {
      std::vector<double> mine;
      for (size_t i = 0; i < requests; ++i)
        if (load.plan[i] == k) mine.push_back(load.outcomes[i].ms);
      if (mine.empty()) continue;
      std::sort(mine.begin(), mine.end());
      std::printf("  %-14s %5zu  p50 %7.1f  p90 %7.1f  p99 %7.1f  max %7.1f\n", kKindNames[k],
                  mine.size(), Percentile(mine, 0.5), Percentile(mine, 0.9), Percentile(mine, 0.99),
                  mine.back());
    }
    std::printf("answers wrong: %d\n", failures);

    // The statement log and its rotated copies: each marker exactly as often as expected.
    std::string log;
    size_t files = 0;
    for (const auto& e : std::filesystem::directory_iterator(logs)) {
      const std::string name = e.path().filename().string();
      if (name == "Log.txt" || (name.rfind("Log_", 0) == 0 && name.size() > 8 &&
                                name.substr(name.size() - 4) == ".txt")) {
        log += Slurp(e.path().string());
        log += "\r\n";
        ++files;
      }
    }
    size_t logWrong = 0;
    for (size_t i = 0; i < requests; ++i) {
      const std::string m = load.Marker(i);
      // The marker followed by a non-digit, so that _1 does not match _10.
      size_t n = 0;
      for (size_t at = log.find(m); at != std::string::npos; at = log.find(m, at + 1))
        if (at + m.size() >= log.size() ||
            !std::isdigit(static_cast<unsigned char>(log[at + m.size()])))
          ++n;
      if (n != kLogEntries[load.plan[i]] && ++logWrong <= 20)
        std::printf("LOG #%zu (%s): %zu entries, expected %zu\n", i, kKindNames[load.plan[i]], n,
                    kLogEntries[load.plan[i]]);
    }
    std::printf("statement log: %zu files read, entries wrong for %zu requests\n", files, logWrong);
    failures += static_cast<int>(logWrong);

    // Every insert committed once.
    kvo::fb::Attachment a = load.db->Attach();
    kvo::fb::Transaction tr = a.StartTransaction();
    kvo::fb::Statement s = a.Prepare(tr, "select count(*) from t2");
    kvo::fb::ResultSet rows = s.Open();
    const std::string inserted = rows.Fetch() ? rows.GetAsText(0) : "?";
    rows.Close();
    tr.Commit();
    a.Close();
    const size_t inserts =
        static_cast<size_t>(std::count(load.plan.begin(), load.plan.end(), kInsert));
    std::printf("rows inserted: %s of %zu\n", inserted.c_str(), inserts);
    if (inserted != std::to_string(inserts)) ++failures;
  } catch (const std::exception& e) {
    std::printf("load_bench: %s\n", e.what());
    ++failures;
  }

  // No program left behind: wait a little for the last ones to end.
  std::vector<std::string> left;
  for (int tries = 0; tries < 50; ++tries) {
    left = Leftovers(load.drives);
    if (left.empty()) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
  }
  for (const auto& l : left) std::printf("LEFTOVER kvowebserver %s\n", l.c_str());
  failures += static_cast<int>(left.size());
  load.db.reset();
  curl_global_cleanup();
  std::printf("%s\n", failures ? "FAILED" : "all answers and log entries correct");
  return failures ? 1 : 0;
}
