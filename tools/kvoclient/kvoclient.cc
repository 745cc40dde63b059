#include "tools/kvoclient/kvoclient.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>
#include <iostream>
#include <iterator>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "client/http_client.h"
#include "configfiles/scramble.h"
#include "configfiles/text_lines.h"
#include "kvo/client/kvo_client.h"
#include "platform/ascii.h"
#include "platform/error_page.h"
#include "platform/unique_fd.h"
#include "tools/kvoclient/http.h"
#include "tools/kvoclient/output.h"
#include "tools/kvoclient/progress.h"
#include "tools/kvoclient/terminal_text.h"

namespace kvo::kvoclient {

namespace {

const char kUsage[] =
    "usage: kvoclient [options] COMMAND [arguments]\n"
    "\n"
    "Commands:\n"
    "  sql [STATEMENT]     run one statement (read from standard input when left out or \"-\")\n"
    "                      and print its rows; directly on the database, or through the server\n"
    "                      with --url\n"
    "  tables              list the user tables of the database (server: /tabelas)\n"
    "  login               check the user name and password (server: /login); exit status 1\n"
    "                      when refused\n"
    "  config [APP [VARIANT]]\n"
    "                      the settings of a client (APP AppMobile, the default, or AppNet;\n"
    "                      VARIANT picks a section such as KVO.Mobile.2), unscrambled\n"
    "  modules             the list of installable modules, unscrambled\n"
    "  version [WHICH]     the version of a client executable: kvo (default), mobile,\n"
    "                      mobileupdate, cd or cdupdate\n"
    "  version file PATH   the version of any file on the server (a Windows path)\n"
    "\n"
    "Options:\n"
    "  --url URL           base address of the web server (scheme, host and any folders in\n"
    "                      front of the server program); needed by every command but sql\n"
    "  --server-program NAME\n"
    "                      the server program under URL (default ikvowebserver.dll)\n"
    "  --db DATABASE       the database as the Firebird client takes it (path, or host:path)\n"
    "  --user USER         the database user (default: environment KVO_USER)\n"
    "                      The password comes from the environment variable KVO_PASSWORD, or\n"
    "                      else is asked for on the terminal without echo; it is never taken\n"
    "                      from the command line.\n"
    "  --param NAME=VALUE  a value for the statement's :NAME markers (as text; repeatable)\n"
    "  --compressed        ask the server for compressed binary answers (sql with --url)\n"
    "  --proxy HOST:PORT   send the requests through an HTTP proxy\n"
    "  --proxy-user USER   Basic authentication at the proxy; its password comes from\n"
    "                      KVO_PROXY_PASSWORD or a prompt\n"
    "  --format FORMAT     table (default), csv or json, for sql and tables. In the table\n"
    "                      NULL is shown as NULL, and a text that reads NULL or begins\n"
    "                      with a backslash gets one more backslash in front\n"
    "  --connect-timeout SECONDS\n"
    "                      give up connecting to the server or proxy after this long\n"
    "                      (default 10)\n"
    "  --timeout SECONDS   give up a request that takes longer than this altogether\n"
    "                      (default: no limit; /sql answers only when its result is\n"
    "                      complete, so a long query is silent until then)\n"
    "  --progress WHEN     auto (default: when standard error is a terminal), always or never\n"
    "  --help, -h          this text\n"
    "  --version           the version of kvoclient and its library\n";

class UsageError : public Error {
 public:
  using Error::Error;
};

struct Options {
  std::string url;
  std::string serverProgram = "ikvowebserver.dll";
  std::string database;
  std::optional<std::string> user;
  std::vector<std::pair<std::string, std::string>> params;
  bool compressed = false;
  std::string proxy;
  std::string proxyUser;
  Format format = Format::Table;
  bool formatGiven = false;
  client::THttpLimits limits;  // the timeouts of every request
  bool help = false;
  bool version = false;
  std::vector<std::string> arguments;  // the command and its arguments
};

Options ParseOptions(int argc, const char* const* argv) {
  Options o;
  const std::map<std::string, std::string Options::*> texts = {
      {"--url", &Options::url},
      {"--server-program", &Options::serverProgram},
      {"--db", &Options::database},
      {"--proxy", &Options::proxy},
      {"--proxy-user", &Options::proxyUser}};
  bool optionsEnd = false;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (!optionsEnd && arg == "-h") {
      o.help = true;
      continue;
    }
    if (optionsEnd || arg.size() < 2 || arg.rfind("--", 0) != 0) {
      o.arguments.push_back(arg);
      continue;
    }
    if (arg == "--") {
      optionsEnd = true;
      continue;
    }
    std::optional<std::string> inlineValue;
    if (size_t eq = arg.find('='); eq != std::string::npos) {
      inlineValue = arg.substr(eq + 1);
      arg.resize(eq);
    }
    auto value = [&]() -> std::string {
      if (inlineValue) return *inlineValue;
      if (i + 1 >= argc) throw UsageError("option " + arg + " needs a value");
      return argv[++i];
    };
    if (arg == "--password" || arg == "--proxy-password") {
      throw UsageError(
          "passwords are not taken from the command line: use the environment "
          "variable " +
          std::string(arg == "--password" ? "KVO_PASSWORD" : "KVO_PROXY_PASSWORD") +
          " or answer the prompt");
    } else if (auto t = texts.find(arg); t != texts.end()) {
      o.*(t->second) = value();
    } else if (arg == "--user") {
      o.user = value();
    } else if (arg == "--param") {
      std::string p = value();
      size_t eq = p.find('=');
      if (eq == std::string::npos || eq == 0) throw UsageError("--param needs NAME=VALUE");
      o.params.emplace_back(p.substr(0, eq), p.substr(eq + 1));
    } else if (arg == "--help") {
      o.help = true;
    } else if (arg == "--version") {
      o.version = true;
    } else if (arg == "--compressed") {
      o.compressed = true;
    } else if (arg == "--connect-timeout" || arg == "--timeout") {
      std::string text = value();
      char* end = nullptr;
      double seconds = std::strtod(text.c_str(), &end);
      if (text.empty() || *end || !(seconds >= 0) || seconds > 1e6)
        throw UsageError(arg + " needs a number of seconds");
      (arg == "--timeout" ? o.limits.TimeoutSeconds : o.limits.ConnectTimeoutSeconds) = seconds;
    } else if (arg == "--format") {
      o.formatGiven = true;
      std::string f = value();
      if (f == "table") {
        o.format = Format::Table;
      } else if (f == "csv") {
        o.format = Format::Csv;
      } else if (f == "json") {
        o.format = Format::Json;
      } else {
        throw UsageError("unknown format \"" + f + "\" (table, csv or json)");
      }
    } else if (arg == "--progress") {
      std::string p = value();
      if (p == "auto") {
        SetProgressMode(ProgressMode::Auto);
      } else if (p == "always") {
        SetProgressMode(ProgressMode::Always);
      } else if (p == "never") {
        SetProgressMode(ProgressMode::Never);
      } else {
        throw UsageError("unknown progress mode \"" + p + "\" (auto, always or never)");
      }
    } else {
      throw UsageError("unknown option " + arg);
    }
  }
  return o;
}

// A line typed on the terminal without echo.
std::string PromptSecret(const std::string& prompt, const char* envName) {
  platform::UniqueFd tty(::open("/dev/tty", O_RDWR | O_CLOEXEC));
  if (!tty) {
    throw Error(std::string("no password: set the environment variable ") + envName +
                " or run kvoclient on a terminal");
  }
  const int fd = tty.Get();
  termios saved{};
  const bool isTerminal = tcgetattr(fd, &saved) == 0;
  if (isTerminal) {
    termios quiet = saved;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    quiet.c_lflag |= ECHONL;
    tcsetattr(fd, TCSAFLUSH, &quiet);
  }
  struct Restore {
    int fd;
    bool active;
    const termios& saved;
    ~Restore() {
      if (active) tcsetattr(fd, TCSAFLUSH, &saved);
    }
  } restore{fd, isTerminal, saved};
  const std::string shown = ToTerminal(prompt);
  if (::write(fd, shown.data(), shown.size()) < 0) throw Error("cannot ask for the password");
  std::string line;
  char c;
  while (::read(fd, &c, 1) == 1 && c != '\n') line += c;
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return FromTerminal(line, "the password typed");
}

std::string Secret(const char* envName, const std::string& prompt) {
  if (const char* value = std::getenv(envName)) return FromTerminal(value, envName);
  return PromptSecret(prompt, envName);
}

std::string ToWire(std::string_view utf8) {
  return client::Utf8ToWindows1252(utf8, client::TUnmappable::Replace);
}

// As ToWire, refusing what Windows-1252 cannot hold instead of sending "?" in its place: the
// server would run, and store, the statement with the "?".
std::string ToWireExactly(std::string_view utf8, const std::string& what) {
  try {
    return client::Utf8ToWindows1252(utf8, client::TUnmappable::Refuse, what);
  } catch (const Error& e) {
    throw Error(std::string(e.what()) + "; nothing was sent");
  }
}

std::string FromWire(std::string_view cp1252) {
  return client::Windows1252ToUtf8(cp1252);
}

struct Credentials {
  std::string database, user, password;  // Windows-1252, as they travel
};

Credentials NeedCredentials(const Options& o) {
  if (o.database.empty()) throw UsageError("this command needs --db");
  std::string user = o.user                    ? *o.user
                     : std::getenv("KVO_USER") ? FromTerminal(std::getenv("KVO_USER"), "KVO_USER")
                                               : "";
  if (user.empty()) throw UsageError("this command needs --user (or KVO_USER)");
  std::string password = Secret("KVO_PASSWORD", "Password for " + user + ": ");
  // Refused rather than sent with "?": a login with a changed name would only be refused.
  std::string wirePassword = ToWire(password);
  // Named without the character, which would show a piece of the password.
  if (client::Windows1252ToUtf8(wirePassword) != password)
    throw Error("the password holds a character that Windows-1252 cannot hold; nothing was sent");
  return {ToWireExactly(o.database, "the database name"), ToWireExactly(user, "the user name"),
          std::move(wirePassword)};
}

client::THttpProxySettings Proxy(const Options& o) {
  client::THttpProxySettings p;
  if (o.proxy.empty()) {
    if (!o.proxyUser.empty()) throw UsageError("--proxy-user needs --proxy");
    return p;
  }
  size_t colon = o.proxy.rfind(':');
  if (colon == std::string::npos || colon == 0) throw UsageError("--proxy needs HOST:PORT");
  p.Host = o.proxy.substr(0, colon);
  char* end = nullptr;
  long port = std::strtol(o.proxy.c_str() + colon + 1, &end, 10);
  if (*end || port <= 0 || port > 65535) throw UsageError("--proxy needs HOST:PORT");
  p.Port = static_cast<int32_t>(port);
  p.Username = o.proxyUser;
  p.BasicAuthentication = !p.Username.empty();
  if (p.BasicAuthentication)
    p.Password = Secret("KVO_PROXY_PASSWORD", "Proxy password for " + p.Username + ": ");
  return p;
}

bool HttpUrl(const std::string& url) {
  const size_t end = url.find("://");
  const std::string scheme =
      end == std::string::npos ? "" : platform::AsciiLowered(url.substr(0, end));
  return scheme == "http" || scheme == "https";
}

// The server program's name is added to --url: a URL that already ends in it would address
// "<program>/<program>/sql", which the web server answers with a bare 500.
void CheckUrlStopsBeforeTheProgram(const Options& o) {
  std::string url = o.url;
  while (!url.empty() && url.back() == '/') url.pop_back();
  std::string tail = "/";  // appended: GCC 12 at -O3 misreads "/" + a temporary (-Wrestrict)
  tail += platform::AsciiLowered(o.serverProgram);
  if (o.serverProgram.empty() || url.size() < tail.size() ||
      platform::AsciiLowered(url.substr(url.size() - tail.size())) != tail)
    return;
  throw UsageError(
      "--url ends in the server program's name; give the address in front of it (--url " +
      url.substr(0, url.size() - tail.size()) + "), kvoclient adds \"/" + o.serverProgram +
      "\" itself");
}

std::string NeedUrl(const Options& o) {
  if (o.url.empty()) throw UsageError("this command needs --url");
  return o.url;
}

std::string ActionUrl(const Options& o, const std::string& action) {
  return NeedUrl(o) + "/" + o.serverProgram + action;
}

std::string CredentialFields(const Credentials& c) {
  return client::EncodeFormBody({{"db", c.database}, {"u", c.user}, {"p", c.password}});
}

HttpAnswer Ask(const Options& o, const std::string& url, bool post, const std::string& body) {
  const client::THttpProxySettings proxy = Proxy(o);
  Progress progress("waiting for the server");
  return HttpRequest(url, post, body, proxy, o.limits);
}

// The text of an error box: Windows-1252 with CR line breaks.
std::string BoxText(const std::string& text) {
  std::string out;
  for (char c : FromWire(text)) out += c == '\r' ? '\n' : c;
  return out;
}

// Collects the client library's error boxes instead of showing them, and turns its wait window
// into the progress indicator.
class CommandLineUserInterface : public client::TUserInterface {
 public:
  std::vector<std::string> errors;

  void ShowError(const std::string& text) override { errors.push_back(BoxText(text)); }
  std::unique_ptr<client::TWaitWindow> ShowWaitWindow(const client::TWaitWindowLayout&) override {
    return std::make_unique<Window>();
  }
  void ThrowIfAny() const {
    if (errors.empty()) return;
    std::string message;
    for (const auto& e : errors) message += (message.empty() ? "" : "\n") + e;
    throw Error(message);
  }

 private:
  class Window : public client::TWaitWindow {
    Progress progress_{"waiting for the server"};
  };
};

int RunSql(const Options& o, std::ostream& out, std::ostream& err) {
  std::string statement;
  if (o.arguments.size() > 2) throw UsageError("sql takes one statement (quote it)");
  if (o.arguments.size() < 2 || o.arguments[1] == "-") {
    statement = FromTerminal(
        std::string(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>()),
        "the statement read from standard input");
  } else {
    statement = o.arguments[1];
  }
  if (statement.find_first_not_of(" \t\r\n") == std::string::npos)
    throw UsageError("no statement given");
  const Credentials credentials = NeedCredentials(o);
  const client::THttpProxySettings proxy = Proxy(o);

  CommandLineUserInterface ui;
  client::TScopedUserInterface scope(ui);
  client::TTarvoIBDatabase database;
  database.UseRegProps = false;
  database.DatabaseName = credentials.database;
  database.Params.Add("user_name=" + credentials.user);
  database.Params.Add("password=" + credentials.password);
  client::TTarvoMultiTierProps& bag = database.TarvoMultiTierProps();
  bag.Active = !o.url.empty();
  bag.URL = o.url;
  bag.WebServer = o.serverProgram;
  bag.Compressed = o.compressed;
  bag.ShowWait = true;
  bag.UseProxy = !proxy.Host.empty();
  bag.ProxyHost = proxy.Host;
  bag.ProxyPort = proxy.Port;
  bag.ProxyUser = proxy.Username;
  bag.ProxyPass = proxy.Password;

  client::TTarvoIBTransaction transaction;
  transaction.DefaultDatabase = &database;
  client::TTarvoIBQuery query;
  query.Database = &database;
  query.Transaction = &transaction;
  query.SQL().SetText(ToWireExactly(statement, "the statement"));
  query.Limits = o.limits;
  for (const auto& [name, value] : o.params) {
    bool found = false;
    for (client::TParam& p : query.Params) {
      if (platform::SameTextAscii(p.Name, ToWire(name))) {
        p.SetAsString(ToWireExactly(value, "the value of :" + name));
        found = true;
      }
    }
    if (!found) throw UsageError("the statement has no marker :" + name);
  }
  for (const client::TParam& p : query.Params) {
    if (p.DataType == client::TFieldType::ftUnknown)
      throw UsageError("no value for :" + FromWire(p.Name) + " (give --param " + FromWire(p.Name) +
                       "=VALUE)");
  }

  const std::string sql = query.SQL().Text();
  if (bag.Active) {
    // Values that cannot be written into the statement fail here, before anything is sent.
    const std::string expanded = query.ExpandParams(sql);
    const std::string url = o.url + "/" + o.serverProgram + "/sql";
    auto exchange = [&](auto&& run) {
      try {
        run();
      } catch (const Error& e) {
        ui.ThrowIfAny();
        // A compressed answer that does not inflate may be the server's error page.
        const std::string& raw = query.LastAnswer();
        if (platform::IsErrorPage(raw)) throw Error(BoxText(platform::ErrorPageMessage(raw)));
        throw Error(RequestFailure(url, e.what()));
      }
      ui.ThrowIfAny();
    };
    if (!client::IsRemoteSelect(expanded)) {
      // The server runs it; the library reads no rows of a statement that does not begin
      // with "select ".
      exchange([&] { query.OpenRemote(); });
      err << "kvoclient: done (rows are read only for statements that begin with "
             "\"select \")\n";
      return 0;
    }
    exchange([&] { query.OpenQuery(); });
  } else {
    {
      Progress progress("connecting");
      database.SetConnected(true);
    }
    try {
      Progress progress("running the statement");
      query.OpenQuery();
    } catch (const client::ENoResultSet&) {
      // A statement without rows runs as written, its markers bound, in the transaction the
      // query started (the query has set up its direct data set for it).
      Progress progress("running the statement");
      query.DirectDataSet().Execute();
      transaction.Commit();
      return 0;
    }
  }
  WriteRows(out, ReadRows(query), o.format);
  return 0;
}

int RunTables(const Options& o, std::ostream& out) {
  const std::string url = ActionUrl(o, "/tabelas");
  const Credentials credentials = NeedCredentials(o);
  HttpAnswer answer = Ask(o, url, true, CredentialFields(credentials));
  if (platform::IsErrorPage(answer.body))
    throw Error(BoxText(platform::ErrorPageMessage(answer.body)));
  ResultTable table;
  table.columns.push_back({"TABLE", ResultTable::Kind::Text});
  for (const auto& line : config::SplitLines(answer.body)) table.rows.push_back({FromWire(line)});
  WriteRows(out, table, o.format);
  return 0;
}

int RunLogin(const Options& o, std::ostream& out, std::ostream& err) {
  const std::string url = ActionUrl(o, "/login");
  const Credentials credentials = NeedCredentials(o);
  HttpAnswer answer = Ask(o, url, true, CredentialFields(credentials));
  if (answer.body == "true") {
    out << "true\n";
    return 0;
  }
  if (answer.body == "false") {
    out << "false\n";
    err << "kvoclient: login refused\n";
    return 1;
  }
  throw Error("unexpected answer from /login: " + FromWire(answer.body.substr(0, 200)));
}

void WriteLines(std::ostream& out, const std::string& text) {
  for (const auto& line : config::SplitLines(text)) out << FromWire(line) << '\n';
}

int RunScrambled(const Options& o, std::ostream& out, const std::string& action) {
  std::string query;
  if (action == "/config") {
    if (o.arguments.size() > 3) throw UsageError("config takes at most APP and VARIANT");
    if (o.arguments.size() > 1)
      query = "?app=" + client::EncodeFormValue(ToWireExactly(o.arguments[1], "APP"));
    if (o.arguments.size() > 2)
      query += "&l=" + client::EncodeFormValue(ToWireExactly(o.arguments[2], "VARIANT"));
  } else if (o.arguments.size() > 1) {
    throw UsageError("modules takes no arguments");
  }
  HttpAnswer answer = Ask(o, ActionUrl(o, action) + query, false, "");
  WriteLines(out, config::ScrambleText(answer.body, config::kScrambleKey));
  return 0;
}

int RunVersion(const Options& o, std::ostream& out) {
  static const std::map<std::string, std::string> kActions = {
      {"kvo", "/versaokvo"},
      {"mobile", "/versaokvomobile"},
      {"mobileupdate", "/versaokvomobileupdate"},
      {"cd", "/versaokvocd"},
      {"cdupdate", "/versaokvocdupdate"}};
  std::string action;
  if (o.arguments.size() >= 2 && o.arguments[1] == "file") {
    if (o.arguments.size() != 3) throw UsageError("version file takes one PATH");
    action = "/versaoarquivo?f=" + client::EncodeFormValue(ToWireExactly(o.arguments[2], "PATH"));
  } else {
    if (o.arguments.size() > 2)
      throw UsageError(
          "version takes one of kvo, mobile, "
          "mobileupdate, cd, cdupdate or file PATH");
    auto a = kActions.find(o.arguments.size() == 2 ? o.arguments[1] : "kvo");
    if (a == kActions.end())
      throw UsageError("unknown executable \"" + o.arguments[1] +
                       "\" (kvo, mobile, mobileupdate, cd, cdupdate or file PATH)");
    action = a->second;
  }
  HttpAnswer answer = Ask(o, ActionUrl(o, action), false, "");
  if (answer.body.empty()) throw Error("no version information (missing file or none)");
  out << FromWire(answer.body) << '\n';
  return 0;
}

}  // namespace

int RunKvoClient(int argc, const char* const* argv, std::ostream& out, std::ostream& err) {
  try {
    // The arguments in UTF-8, as everything inside.
    std::vector<std::string> args;
    for (int i = 0; i < argc; ++i)
      args.push_back(FromTerminal(argv[i], "argument " + std::to_string(i)));
    std::vector<const char*> utf8Argv;
    for (const std::string& a : args) utf8Argv.push_back(a.c_str());
    Options o = ParseOptions(argc, utf8Argv.data());
    if (o.help || (!o.arguments.empty() && o.arguments[0] == "help")) {
      out << kUsage;
      return 0;
    }
    if (o.version) {
      out << "kvoclient " << client::LibraryVersion() << '\n';
      return 0;
    }
    if (o.arguments.empty()) throw UsageError("no command given");
    const std::string& command = o.arguments[0];
    if (o.formatGiven && command != "sql" && command != "tables")
      throw UsageError("--format applies to sql and tables only");
    if (!o.url.empty() && !HttpUrl(o.url))
      throw UsageError("--url must be an http:// or https:// address");
    CheckUrlStopsBeforeTheProgram(o);
    if (command == "sql") return RunSql(o, out, err);
    if (command == "tables") return RunTables(o, out);
    if (command == "login") return RunLogin(o, out, err);
    if (command == "config") return RunScrambled(o, out, "/config");
    if (command == "modules") return RunScrambled(o, out, "/listakvomodulos");
    if (command == "version") return RunVersion(o, out);
    throw UsageError("unknown command \"" + command + "\"");
  } catch (const UsageError& e) {
    err << "kvoclient: " << e.what() << "\n(kvoclient --help shows the commands and options)\n";
    return 2;
  } catch (const std::exception& e) {
    out.flush();
    err << "kvoclient: " << e.what() << '\n';
    return 1;
  }
}

}  // namespace kvo::kvoclient
