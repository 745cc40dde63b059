// Requests per second and latency through lighttpd (the stack of scripts/dev-services): the
// program as a CGI process (/kvo) against its FastCGI mode (/kvofcgi) without and with
// attachment reuse (the server settings file's KeepAttachments, read by every request), for a
// one-row /sql and for /script, at several concurrencies. All runs happen in one invocation so
// that they see the same machine; prints every figure and the ratios with their goals.
//   kvo_fastcgi_bench [--seconds S] [--concurrency 1,8,32]
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/fb_testdb.h"
#include "tests/support/form.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Request {
  std::string url;
  std::string body;      // POST when not empty
  std::string expected;  // a text the answer must hold; empty: an empty 200 answer
};

struct Result {
  double perSecond = 0, p50 = 0, p99 = 0;
  long errors = 0, count = 0;
};

// A kept-alive HTTP/1.1 connection to the loopback web server, as lean as a load generator
// must be on a machine whose two cores also run the server: one prepared request written as
// is, the answer read by its Content-Length or its chunks.
class Connection {
 public:
  explicit Connection(const Request& request) {
    // http://127.0.0.1:PORT/path
    const std::string rest = request.url.substr(request.url.find("//") + 2);
    const size_t slash = rest.find('/');
    const std::string hostPort = rest.substr(0, slash);
    port_ = static_cast<uint16_t>(std::atoi(hostPort.substr(hostPort.find(':') + 1).c_str()));
    bytes_ = (request.body.empty() ? "GET " : "POST ") + rest.substr(slash) +
             " HTTP/1.1\r\nHost: " + hostPort + "\r\n";
    if (!request.body.empty())
      bytes_ += "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: " +
                std::to_string(request.body.size()) + "\r\n";
    bytes_ += "\r\n" + request.body;
  }
  ~Connection() { Close(); }

  // Sends the request and reads the answer; false on any failure (the connection is then
  // made anew by the next call).
  bool Exchange(long& status, std::string& body) {
    // The web server ends a kept-alive connection after so many requests: a connection that
    // served before and closes before any byte of the answer is made anew, as browsers do.
    for (int attempt = 0; attempt < 2; ++attempt) {
      const bool reused = fd_ >= 0;
      if (fd_ < 0 && !Open()) return false;
      if (WriteAll() && ReadAnswer(status, body)) return true;
      const bool nothingCame = buffer_.empty();
      Close();
      if (!reused || !nothingCame) return false;
    }
    return false;
  }

 private:
  bool Open() {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port_);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const int one = 1;
    ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    if (::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
      Close();
      return false;
    }
    buffer_.clear();
    return true;
  }
  void Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }
  bool WriteAll() {
    size_t done = 0;
    while (done < bytes_.size()) {
      const ssize_t n = ::send(fd_, bytes_.data() + done, bytes_.size() - done, MSG_NOSIGNAL);
      if (n <= 0) return false;
      done += static_cast<size_t>(n);
    }
    return true;
  }
  // Makes sure `buffer_` holds at least `size` bytes.
  bool Fill(size_t size) {
    char chunk[65536];
    while (buffer_.size() < size) {
      const ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
      if (n <= 0) return false;
      buffer_.append(chunk, static_cast<size_t>(n));
    }
    return true;
  }
  // The position after the next CR LF at or after `from`, reading more as needed.
  bool Line(size_t from, size_t& end) {
    while ((end = buffer_.find("\r\n", from)) == std::string::npos)
      if (!Fill(buffer_.size() + 1)) return false;
    end += 2;
    return true;
  }
  bool ReadAnswer(long& status, std::string& body) {
    size_t headersEnd;
    while ((headersEnd = buffer_.find("\r\n\r\n")) == std::string::npos)
      if (!Fill(buffer_.size() + 1)) return false;
    headersEnd += 4;
    std::string head = buffer_.substr(0, headersEnd);
    for (char& c : head) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    status = std::atol(head.c_str() + head.find(' ') + 1);
    body.clear();
    size_t at = headersEnd;
    if (head.find("\r\ntransfer-encoding: chunked") != std::string::npos) {
      while (true) {
        size_t end;
        if (!Line(at, end)) return false;
        const size_t size = std::strtoul(buffer_.c_str() + at, nullptr, 16);
        if (!Fill(end + size + 2)) return false;
        body.append(buffer_, end, size);
        at = end + size + 2;
        if (size == 0) break;
      }
    } else {
      const size_t pos = head.find("\r\ncontent-length:");
      const size_t size =
          pos == std::string::npos ? 0 : std::strtoul(head.c_str() + pos + 17, nullptr, 10);
      if (!Fill(at + size)) return false;
      body.assign(buffer_, at, size);
      at += size;
    }
    buffer_.erase(0, at);
    return true;
  }

  uint16_t port_ = 0;
  std::string bytes_;
  std::string buffer_;
  int fd_ = -1;
};

// Each of `concurrency` threads sends `request` over its own kept-alive connection for
// `seconds` (after a short warm-up that is not counted).
Result Measure(const Request& request, int concurrency, double seconds) {
  std::vector<std::vector<double>> latencies(concurrency);
  std::atomic<long> errors{0};
  std::atomic<bool> counting{false}, stop{false};
  std::vector<std::thread> threads;
  for (int t = 0; t < concurrency; ++t) {
    threads.emplace_back([&, t] {
      Connection connection(request);
      std::string answer;
      while (!stop) {
        long status = 0;
        const auto start = Clock::now();
        const bool exchanged = connection.Exchange(status, answer);
        const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        const bool ok =
            exchanged && status == 200 &&
            (request.expected.empty() ? answer.empty()
                                      : answer.find(request.expected) != std::string::npos);
        if (counting) {
          latencies[t].push_back(ms);
          if (!ok) ++errors;
        }
        if (!exchanged) std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
    });
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  const auto start = Clock::now();
  counting = true;
  std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
  counting = false;
  const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
  stop = true;
  for (auto& th : threads) th.join();
  std::vector<double> all;
  for (auto& l : latencies) all.insert(all.end(), l.begin(), l.end());
  std::sort(all.begin(), all.end());
  Result r;
  r.count = static_cast<long>(all.size());
  r.errors = errors;
  r.perSecond = all.size() / elapsed;
  if (!all.empty()) {
    r.p50 = all[all.size() / 2];
    r.p99 = all[std::min(all.size() - 1, all.size() * 99 / 100)];
  }
  return r;
}

// Logins per second of the Firebird server alone: each of `concurrency` threads attaches to
// the database and detaches again, with nothing else, for `seconds`. No request that logs in
// (CGI mode, or FastCGI mode without reuse) can be answered faster than this on this machine.
double LoginsPerSecond(const kvo::testing::TempDatabase& db, int concurrency, double seconds) {
  std::atomic<long> logins{0};
  std::atomic<bool> stop{false};
  std::vector<std::thread> threads;
  const auto start = Clock::now();
  for (int t = 0; t < concurrency; ++t) {
    threads.emplace_back([&] {
      while (!stop) {
        kvo::fb::Attachment attachment = db.Attach();
        attachment.Close();
        ++logins;
      }
    });
  }
  std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
  stop = true;
  for (auto& th : threads) th.join();
  return logins / std::chrono::duration<double>(Clock::now() - start).count();
}

const char* Need(const char* name) {
  const char* v = std::getenv(name);
  if (!v || !*v) {
    std::fprintf(stderr, "%s is not set: start scripts/dev-services first\n", name);
    std::exit(2);
  }
  return v;
}

}  // namespace

int main(int argc, char** argv) {
  double seconds = 3;
  std::vector<int> concurrencies = {1, 8, 32};
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--seconds") && i + 1 < argc) {
      seconds = std::atof(argv[++i]);
    } else if (!std::strcmp(argv[i], "--concurrency") && i + 1 < argc) {
      concurrencies.clear();
      for (char* p = std::strtok(argv[++i], ","); p; p = std::strtok(nullptr, ","))
        concurrencies.push_back(std::atoi(p));
    }
  }
  const std::string cgiUrl = Need("KVO_HTTP_URL_CGI");
  const std::string fcgiUrl = Need("KVO_HTTP_URL_FASTCGI");
  const std::string drives = Need("KVO_HTTP_DRIVES");

  kvo::testing::TempDatabase db;
  db.Execute(std::vector<std::string>{
      "create table t (id integer primary key, name varchar(40), amount numeric(15,2))",
      "insert into t values (1, 'um', 10.50)"});

  // The server settings file decides reuse for every request; the original comes back at the end.
  const std::string settings = drives + "/C/KVO/KVO.Net/Config/KVO.Server.Config";
  const bool hadSettings = std::filesystem::exists(settings);
  const std::string original = hadSettings ? kvo::testing::ReadFile(settings) : "";
  auto keep = [&](bool on) {
    kvo::testing::WriteFile(
        settings, std::string("[Server]\r\nKeepAttachments=") + (on ? "1" : "0") + "\r\n");
  };

  const std::string sqlBody = kvo::testing::Form({{"db", db.connection()},
                                                  {"u", db.user()},
                                                  {"p", db.password()},
                                                  {"q", "select * from t where id = 1"},
                                                  {"z", "false"}});
  // The same row found with a literal beyond ASCII: the database's sets are learned once per
  // connection (a kept one remembers them) before such a literal is sent.
  const std::string textBody =
      kvo::testing::Form({{"db", db.connection()},
                          {"u", db.user()},
                          {"p", db.password()},
                          {"q", "select * from t where id = 1 and name <> 'Jos\xE9'"},
                          {"z", "false"}});
  struct Mode {
    const char* name;
    std::string base;
    bool reuse;
  } modes[] = {{"CGI", cgiUrl, false},
               {"FastCGI, no reuse", fcgiUrl, false},
               {"FastCGI, reuse", fcgiUrl, true}};
  struct Kind {
    const char* name;
    std::string path, body, expected;
  } kinds[] = {
      {"one-row /sql", "/kvowebserver.exe/sql", sqlBody, "<ROW ID=\"1\""},
      {"one-row /sql, a literal beyond ASCII", "/kvowebserver.exe/sql", textBody, "<ROW ID=\"1\""},
      {"/script", "/kvowebserver.exe/script", "", ""}};

  std::map<std::string, Result> results;
  std::printf("%-18s %-13s %5s %10s %9s %9s %7s\n", "mode", "request", "conc", "req/s", "p50 ms",
              "p99 ms", "errors");
  bool failed = false;
  for (const Kind& k : kinds) {
    for (const Mode& m : modes) {
      keep(m.reuse);
      for (int c : concurrencies) {
        const Result r = Measure({m.base + k.path, k.body, k.expected}, c, seconds);
        results[std::string(m.name) + "|" + k.name + "|" + std::to_string(c)] = r;
        std::printf("%-18s %-13s %5d %10.1f %9.1f %9.1f %7ld\n", m.name, k.name, c, r.perSecond,
                    r.p50, r.p99, r.errors);
        std::fflush(stdout);
        if (r.errors) failed = true;
      }
    }
  }
  if (hadSettings)
    kvo::testing::WriteFile(settings, original);
  else
    std::filesystem::remove(settings);

  // The ceiling of every mode that logs in for each request, measured on the same machine.
  const double logins = LoginsPerSecond(db, 8, seconds);
  std::printf(
      "\nFirebird logins alone (attach and detach, no query, no web server), 8 streams: "
      "%.1f/s\n",
      logins);

  auto at = [&](const char* mode, const char* kind, int c) -> const Result* {
    auto it = results.find(std::string(mode) + "|" + kind + "|" + std::to_string(c));
    return it == results.end() ? nullptr : &it->second;
  };
  std::printf("\nratios at concurrency 8 (goals of the shipped defaults):\n");
  const Result* cgiSql = at("CGI", "one-row /sql", 8);
  const Result* plainSql = at("FastCGI, no reuse", "one-row /sql", 8);
  const Result* reuseSql = at("FastCGI, reuse", "one-row /sql", 8);
  const Result* cgiScript = at("CGI", "/script", 8);
  const Result* fcgiScript = at("FastCGI, reuse", "/script", 8);
  if (cgiSql && plainSql && reuseSql && cgiScript && fcgiScript) {
    std::printf("  one-row /sql, FastCGI with reuse / CGI      %6.1fx  (goal >= 8)\n",
                reuseSql->perSecond / cgiSql->perSecond);
    std::printf("  one-row /sql, FastCGI without reuse / CGI   %6.1fx  (goal >= 2)\n",
                plainSql->perSecond / cgiSql->perSecond);
    std::printf(
        "  Firebird logins alone / CGI one-row /sql    %6.1fx  (the most any mode that\n"
        "                                                       logs in per request can reach)\n",
        logins / cgiSql->perSecond);
    std::printf("  /script, FastCGI / CGI                      %6.1fx  (goal >= 10)\n",
                fcgiScript->perSecond / cgiScript->perSecond);
    std::printf("  one-row /sql p99, FastCGI with reuse        %6.1f ms (goal <= 50)\n",
                reuseSql->p99);
  } else {
    std::printf("  (run with concurrency 8 to see them)\n");
  }
  if (failed) std::printf("\nSOME ANSWERS WERE WRONG (errors column)\n");
  return failed ? 1 : 0;
}
