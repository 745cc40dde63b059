// Measures /sql against isql-fb, a fetch-only floor and a one-row minimal program, and prints
// the ratios that README.md lists. Needs the private Firebird server of scripts/dev-services
// (KVO_FB_PORT, KVO_FB_USER, KVO_FB_PASSWORD, KVO_FB_DATADIR, FIREBIRD).
// Usage: kvo_sql_bench [--runs N] [--rows N]
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "fb/fb.h"
#include "packet/compress.h"

extern char** environ;

namespace {

struct Run {
  double seconds = 0;
  double cpuSeconds = 0;  // of the process itself (the database server's work is not in it)
  long maxRssKb = 0;
};

std::string Env(const char* name) {
  const char* v = std::getenv(name);
  if (!v || !*v) {
    std::fprintf(stderr, "%s is not set (eval \"$(scripts/dev-services start DIR)\")\n", name);
    std::exit(2);
  }
  return v;
}

// Runs a program with stdin from `inFile` (or /dev/null) and stdout to `outFile`.
Run Spawn(const std::vector<std::string>& args, const std::vector<std::string>& extraEnv,
          const std::string& inFile, const std::string& outFile) {
  std::vector<std::string> envStore;
  for (char** e = environ; *e; ++e) envStore.emplace_back(*e);
  envStore.insert(envStore.end(), extraEnv.begin(), extraEnv.end());
  std::vector<char*> envp, argv;
  for (auto& s : envStore) envp.push_back(s.data());
  envp.push_back(nullptr);
  std::vector<std::string> argStore = args;
  for (auto& s : argStore) argv.push_back(s.data());
  argv.push_back(nullptr);
  auto start = std::chrono::steady_clock::now();
  pid_t pid = fork();
  if (pid == 0) {
    int in = open(inFile.empty() ? "/dev/null" : inFile.c_str(), O_RDONLY);
    int out = open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(in, 0);
    dup2(out, 1);
    execve(argv[0], argv.data(), envp.data());
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  Run r;
  r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  r.maxRssKb = usage.ru_maxrss;
  r.cpuSeconds = usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
                 (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
    throw std::runtime_error(args[0] + " failed (status " + std::to_string(status) + ")");
  return r;
}

std::string Encode(const std::string& v) {
  std::string out;
  for (unsigned char c : v) {
    if (std::isalnum(c)) {
      out += static_cast<char>(c);
    } else if (c == ' ') {
      out += '+';
    } else {
      char buf[4];
      std::snprintf(buf, sizeof buf, "%%%02X", c);
      out += buf;
    }
  }
  return out;
}

void WriteFile(const std::string& path, const std::string& bytes) {
  FILE* f = std::fopen(path.c_str(), "wb");
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
}

std::string ReadFile(const std::string& path) {
  std::string out;
  FILE* f = std::fopen(path.c_str(), "rb");
  char buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
  std::fclose(f);
  return out;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

struct Bench {
  std::string db, user, password, work;
  int runs = 5;

  std::string SqlBody(const std::string& q, bool compressed) const {
    return "z=" + std::string(compressed ? "true" : "false") + "&db=" + Encode(db) +
           "&u=" + Encode(user) + "&p=" + Encode(password) + "&q=" + Encode(q) + "&";
  }
  Run Sql(const std::string& q, bool compressed, const std::string& out = "/dev/null") const {
    std::string body = SqlBody(q, compressed);
    std::string in = work + "/body";
    WriteFile(in, body);
    return Spawn(
        {KVO_SERVER_BINARY},
        {"REQUEST_METHOD=POST", "SERVER_PROTOCOL=HTTP/1.1", "PATH_INFO=/sql",
         "CONTENT_LENGTH=" + std::to_string(body.size()), "KVO_DRIVES=" + work + "/drives"},
        in, out);
  }
  Run Isql(const std::string& q) const {
    std::string script = work + "/script.sql";
    WriteFile(script, q + ";\n");
    return Spawn({"/usr/bin/isql-fb", "-q", "-user", user, "-password", password, db, "-i", script},
                 {}, "", "/dev/null");
  }
  Run Floor(const std::string& q) const {
    return Spawn({KVO_BENCH_FETCH, db, user, password, q}, {}, "", "/dev/null");
  }
  Run OneRow(const std::string& q, bool fastExit) const {
    std::vector<std::string> args = {KVO_BENCH_ONE_ROW};
    if (fastExit) args.push_back("--fast-exit");
    args.insert(args.end(), {db, user, password, q});
    return Spawn(args, {}, "", "/dev/null");
  }
};

struct Figure {
  std::vector<double> times, cpu;
  long maxRssKb = 0;
  void Add(const Run& r) {
    times.push_back(r.seconds);
    cpu.push_back(r.cpuSeconds);
    maxRssKb = std::max(maxRssKb, r.maxRssKb);
  }
  double median() const { return Median(times); }
};

// Drops the benchmark database and removes the work folder however the run ends.
struct Cleanup {
  std::string db, work;
  std::vector<std::string> params;
  Cleanup(std::string d, std::string w, std::vector<std::string> p)
      : db(std::move(d)), work(std::move(w)), params(std::move(p)) {}
  Cleanup(const Cleanup&) = delete;
  ~Cleanup() {
    try {
      kvo::fb::Attachment::Open(db, params).Drop();
    } catch (const std::exception& e) {
      std::fprintf(stderr, "dropping %s: %s\n", db.c_str(), e.what());
    }
    std::error_code ec;
    std::filesystem::remove_all(work, ec);
  }
};

int Run(int argc, char** argv) {
  int rows = 100000;
  Bench b;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (!std::strcmp(argv[i], "--runs")) b.runs = std::atoi(argv[i + 1]);
    if (!std::strcmp(argv[i], "--rows")) rows = std::atoi(argv[i + 1]);
  }
  b.user = Env("KVO_FB_USER");
  b.password = Env("KVO_FB_PASSWORD");
  std::string file = Env("KVO_FB_DATADIR") + "/bench_" + std::to_string(getpid()) + ".fdb";
  b.db = "localhost/" + Env("KVO_FB_PORT") + ":" + file;
  b.work = std::filesystem::temp_directory_path() / ("kvo-bench-" + std::to_string(getpid()));
  std::filesystem::create_directories(b.work + "/drives/C/KVO/KVO.Net/Logs");
  const std::vector<std::string> params = {"user_name=" + b.user, "password=" + b.password};
  std::optional<Cleanup> cleanup;

  std::printf("creating %d rows in two tables...\n", rows);
  {
    kvo::fb::Attachment a = kvo::fb::Attachment::Create(b.db, params);
    cleanup.emplace(b.db, b.work, params);
    auto run = [&](const std::string& sql) {
      kvo::fb::Transaction t = a.StartTransaction();
      a.ExecuteImmediate(t, sql);
      t.Commit();
    };
    run("create table t1 (id integer not null primary key, name varchar(40), amount numeric(15,2),"
        " sold date, stamp timestamp, flag boolean)");
    run("create table t2 (id integer not null primary key, name varchar(40), amount numeric(15,2),"
        " sold date, stamp timestamp, flag boolean, memo blob sub_type text)");
    for (const char* table : {"t1", "t2"}) {
      std::string memo =
          std::string(table) == "t2"
              ? ", iif(mod(:i, 10) = 0, 'Observa\xE7\xE3o curta da linha ' || :i, null)"
              : "";
      run(std::string("execute block as declare i integer = 1; begin while (i <= ") +
          std::to_string(rows) + ") do begin insert into " + table +
          " values (:i, 'Cliente ' || :i"
          " || ' da Silva & Cia', :i * 1.25, dateadd(mod(:i, 3650) day to date '2015-01-01'),"
          " dateadd(:i second to timestamp '2020-01-01 08:00:00'), mod(:i, 2) = 0" +
          memo + "); i = i + 1; end end");
    }
    a.Close();
  }

  const std::string q1 = "select * from t1", q2 = "select * from t2";
  const std::string one = "select * from t1 where id = 1";
  // The same row found with a literal beyond ASCII: the program learns the database's sets once
  // per connection before it sends such a literal.
  const std::string oneText = "select * from t1 where id = 1 and name <> 'Jos\xE9'";
  Figure isql1, isql2, xml1, xml2, zip1, zip2, floor1, floor2, oneSql, oneMin, oneMinFast,
      oneSqlText;
  // Peak memory first, while this process is small: a child's peak counts the pages it shared
  // with this process between fork and exec.
  Figure mem[4];
  for (int r = 0; r < 2; ++r) {
    mem[0].Add(b.Sql(q1, false));
    mem[1].Add(b.Sql(q2, false));
    mem[2].Add(b.Sql(q1, true));
    mem[3].Add(b.Sql(q2, true));
  }
  const long floorRssKb = b.Floor(q1).maxRssKb;

  // Sizes, and the very binary packet /sql sends, for zlib level 9 alone.
  size_t xmlSize[2], zipSize[2];
  kvo::platform::MemoryStream binary[2];
  Figure zlib[2];
  for (int t = 0; t < 2; ++t) {
    const std::string& q = t ? q2 : q1;
    b.Sql(q, false, b.work + "/xml.out");
    std::string out = ReadFile(b.work + "/xml.out");
    xmlSize[t] = out.size() - (out.find("\r\n\r\n") + 4);
    b.Sql(q, true, b.work + "/zip.out");
    out = ReadFile(b.work + "/zip.out");
    kvo::platform::MemoryStream packed(out.substr(out.find("\r\n\r\n") + 4));
    zipSize[t] = packed.Size();
    kvo::packet::DecompressStream(packed, binary[t]);
    std::printf("%s: XML body %zu bytes, binary packet %zu bytes, compressed %zu bytes\n",
                t ? "t2" : "t1", xmlSize[t], binary[t].Size(), zipSize[t]);
  }
  // Measured beside the runs it is compared with, so that both see the same machine load.
  auto timeZlib = [&](int t) {
    kvo::platform::MemoryStream target;
    auto start = std::chrono::steady_clock::now();
    kvo::packet::CompressStream(binary[t], target);
    zlib[t].times.push_back(
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  };

  for (int r = 0; r < b.runs; ++r) {
    std::printf("run %d of %d\n", r + 1, b.runs);
    isql1.Add(b.Isql(q1));
    xml1.Add(b.Sql(q1, false));
    floor1.Add(b.Floor(q1));
    zip1.Add(b.Sql(q1, true));
    timeZlib(0);
    isql2.Add(b.Isql(q2));
    xml2.Add(b.Sql(q2, false));
    floor2.Add(b.Floor(q2));
    zip2.Add(b.Sql(q2, true));
    timeZlib(1);
    for (int k = 0; k < 5; ++k) {
      oneSql.Add(b.Sql(one, false));
      oneSqlText.Add(b.Sql(oneText, false));
      oneMin.Add(b.OneRow(one, false));
      oneMinFast.Add(b.OneRow(one, true));
    }
  }

  double load[3] = {0, 0, 0};
  if (getloadavg(load, 3) < 0) load[0] = -1;
  std::printf("\nload average at the end: %.2f %.2f %.2f on %ld CPUs\n", load[0], load[1], load[2],
              sysconf(_SC_NPROCESSORS_ONLN));
  std::printf("\nmedians of %d runs (one-row figures: of %d runs)\n", b.runs, 5 * b.runs);
  auto line = [](const char* name, const Figure& f) {
    std::printf("  %-44s %8.1f ms", name, f.median() * 1000);
    if (!f.cpu.empty()) std::printf("  (CPU %7.1f ms)", Median(f.cpu) * 1000);
    std::printf("  (min %7.1f ms)", *std::min_element(f.times.begin(), f.times.end()) * 1000);
    std::printf("\n");
  };
  line("isql-fb select * from t1 > /dev/null", isql1);
  line("isql-fb select * from t2 > /dev/null", isql2);
  line("/sql XML, t1", xml1);
  line("/sql XML, t2 (text blob every 10th row)", xml2);
  line("/sql compressed, t1", zip1);
  line("/sql compressed, t2", zip2);
  line("fetch-only floor, t1", floor1);
  line("fetch-only floor, t2", floor2);
  line("zlib level 9 of the binary packet, t1", zlib[0]);
  line("zlib level 9 of the binary packet, t2", zlib[1]);
  line("/sql one-row select", oneSql);
  line("/sql one-row select, a literal beyond ASCII", oneSqlText);
  line("minimal one-row program (normal exit)", oneMin);
  line("minimal one-row program (_exit)", oneMinFast);

  std::printf("\nratios (target)\n");
  bool allMet = true;
  auto ratio = [&](const char* name, double value, double target) {
    bool met = value <= target;
    allMet = allMet && met;
    std::printf("  %-58s %5.2f  (<= %.2f) %s\n", name, value, target, met ? "met" : "MISSED");
  };
  ratio("/sql XML t1 / isql-fb t1", xml1.median() / isql1.median(), 0.7);
  std::printf("  %-58s %5.2f  (for reference)\n", "/sql XML t2 / isql-fb t2",
              xml2.median() / isql2.median());
  std::printf("  %-58s %5.2f  (for reference)\n", "floor t2 / isql-fb t2",
              floor2.median() / isql2.median());
  ratio("/sql XML t1 / floor t1", xml1.median() / floor1.median(), 1.5);
  ratio("/sql XML t2 / floor t2", xml2.median() / floor2.median(), 1.5);
  ratio("/sql compressed t1 / (floor t1 + zlib t1)",
        zip1.median() / (floor1.median() + zlib[0].median()), 1.1);
  ratio("/sql compressed t2 / (floor t2 + zlib t2)",
        zip2.median() / (floor2.median() + zlib[1].median()), 1.1);
  ratio("/sql one row / minimal program (normal exit)", oneSql.median() / oneMin.median(), 1.2);
  std::printf("  %-58s %5.2f  (for reference)\n", "/sql one row / minimal program (_exit)",
              oneSql.median() / oneMinFast.median());
  std::printf("  %-58s %5.2f  (for reference)\n", "/sql one row, literal beyond ASCII / plain",
              oneSqlText.median() / oneSql.median());
  std::printf(
      "  peak RSS (MB): XML t1 %.1f, XML t2 %.1f, compressed t1 %.1f, compressed t2 %.1f,"
      " fetch-only floor %.1f\n",
      mem[0].maxRssKb / 1024.0, mem[1].maxRssKb / 1024.0, mem[2].maxRssKb / 1024.0,
      mem[3].maxRssKb / 1024.0, floorRssKb / 1024.0);
  ratio("peak memory / XML body, XML t1", mem[0].maxRssKb * 1024.0 / xmlSize[0], 2.5);
  ratio("peak memory / XML body, XML t2", mem[1].maxRssKb * 1024.0 / xmlSize[1], 2.5);
  ratio("peak memory / XML body, compressed t1", mem[2].maxRssKb * 1024.0 / xmlSize[0], 2.5);
  ratio("peak memory / XML body, compressed t2", mem[3].maxRssKb * 1024.0 / xmlSize[1], 2.5);

  return allMet ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return Run(argc, argv);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
}
