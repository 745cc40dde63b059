// Failure texts carry bytes a caller chose: Firebird's message names the posted host. A page on
// another origin can post such a form to the program; in a real browser the answer must not run
// the script it carries. The same bytes served without the program's headers do run it, which
// shows that the test would see a script that runs.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "platform/markup.h"
#include "tests/support/browser.h"
#include "tests/support/cgi_runner.h"
#include "tests/support/fb_testdb.h"
#include "tests/support/form.h"
#include "tests/support/http_client.h"
#include "tests/support/page_server.h"

namespace kvo::testing {
namespace {

// A host name that is an element whose error handler requests `beacon`. The handler's text has
// no ":" or "/", which would end the host part of the database name.
std::string HostileDb(const std::string& beacon) {
  const std::string code = "new Image().src='" + beacon + "'";
  std::string chars;
  for (char c : code) chars += (chars.empty() ? "" : ",") + std::to_string(int(c));
  return "<img src=x onerror=eval(String.fromCharCode(" + chars + "))>:/x.fdb";
}

struct Attack {
  const char* action;
  bool keepsBytes;  // a 200 answer that clients take apart, so its body is unchanged
};
const Attack kAttacks[] = {
    {"/sql", true},
    {"/tabelas", true},
    {"/criarib", false},
    {"/memo", false},
};

std::string FormFields(const std::string& db) {
  return Form({{"db", db},
               {"u", "SYSDBA"},
               {"p", "password=wrong"},  // /criarib reads its parameter lines from p
               {"q", "select 1 from rdb$database"},
               {"cnpj", "1"}});
}

// A page that posts one hidden form per action, each into its own frame, as soon as it loads.
std::string AttackPage(const std::string& base, PageServer& listener) {
  std::string page = "<html><body>\n";
  for (const Attack& a : kAttacks) {
    const std::string name = std::string(a.action).substr(1);
    const std::string db = HostileDb(listener.Url("/beacon?" + name));
    page += "<iframe name=\"" + name + "\"></iframe>\n<form target=\"" + name +
            "\" method=\"post\" action=\"" +
            platform::HtmlEscape(ActionUrl(base, "ikvowebserver.dll", a.action)) + "\">";
    page += "<input name=\"db\" value=\"" + platform::HtmlEscape(db) + "\">";
    page += "<input name=\"u\" value=\"SYSDBA\"><input name=\"p\" value=\"password=wrong\">";
    page += "<input name=\"q\" value=\"select 1 from rdb$database\">";
    page += "<input name=\"cnpj\" value=\"1\"></form>\n";
  }
  page += "<script>for (const f of document.forms) f.submit();</script>\n</body></html>\n";
  return page;
}

std::vector<std::string> Beacons(const PageServer& listener) {
  std::vector<std::string> beacons;
  for (const std::string& line : listener.Requests())
    if (line.find("/beacon") != std::string::npos) beacons.push_back(line);
  return beacons;
}

std::string Joined(const std::vector<std::string>& lines) {
  std::string all;
  for (const auto& l : lines) all += l + "\n";
  return all;
}

TEST(InertErrorPagesE2e, InjectedScriptDoesNotRunInABrowser) {
  KVO_REQUIRE_ENV(base, "KVO_HTTP_URL");
  KVO_REQUIRE_BROWSER();
  PageServer attacker;  // another origin: the hostile page and the beacon listener

  // What the program answers, seen as bytes: the payload in a 200 body unchanged, in a 500
  // body without its markup, and the inert headers on both.
  for (const Attack& a : kAttacks) {
    SCOPED_TRACE(a.action);
    const std::string name = std::string(a.action).substr(1);
    const std::string db = HostileDb(attacker.Url("/beacon?control-" + name));
    HttpResponse r = HttpPost(ActionUrl(base, "ikvowebserver.dll", a.action), FormFields(db));
    EXPECT_EQ(r.status, a.keepsBytes ? 200 : 500);
    EXPECT_EQ(r.Header("Content-Security-Policy"), "sandbox");
    EXPECT_EQ(r.Header("X-Content-Type-Options"), "nosniff");
    const std::string host = db.substr(0, db.find(':'));
    EXPECT_EQ(r.body.find(host) != std::string::npos, a.keepsBytes) << r.body;
    if (a.keepsBytes) {
      // The positive control: the same bytes from a server that adds no header.
      attacker.Serve("/control/" + name, r.body);
    } else {
      EXPECT_NE(r.body.find(platform::HtmlEscapeText(host)), std::string::npos) << r.body;
    }
  }

  attacker.Serve("/attack", AttackPage(base, attacker));
  const std::string dom = BrowserDom(attacker.Url("/attack"), 5000);
  EXPECT_NE(dom.find("<iframe name=\"sql\">"), std::string::npos) << dom;
  // Requests already on their way when the browser ends still arrive.
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_TRUE(Beacons(attacker).empty()) << Joined(attacker.Requests());

  std::string controls = "<html><body>\n";
  for (const Attack& a : kAttacks)
    if (a.keepsBytes)
      controls += "<iframe src=\"/control/" + std::string(a.action).substr(1) + "\"></iframe>\n";
  controls += "</body></html>\n";
  attacker.Serve("/controls", controls);
  BrowserDom(attacker.Url("/controls"), 5000);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  const std::string beacons = Joined(Beacons(attacker));
  for (const Attack& a : kAttacks) {
    if (!a.keepsBytes) continue;
    EXPECT_NE(beacons.find("/beacon?control-" + std::string(a.action).substr(1)), std::string::npos)
        << a.action << ": the control page's script did not run\n"
        << Joined(attacker.Requests());
  }
}

// A success answer carries database text as it is: the table list of a database the caller
// names (the caller's own server, when no list of allowed databases is set). A table name of 31
// bytes is room enough for a script that runs the frame's own name, which the attacking page
// chooses.
TEST(InertErrorPagesE2e, HostileTableNameDoesNotRunInABrowser) {
  KVO_REQUIRE_ENV(base, "KVO_HTTP_URL");
  KVO_REQUIRE_BROWSER();
  KVO_REQUIRE_FIREBIRD();
  const std::string table = "<svg onload=eval(name)>";
  TempDatabase db;
  db.Execute("create table \"" + table + "\" (i integer)");
  PageServer attacker;
  const std::string fields =
      Form({{"db", db.connection()}, {"u", db.user()}, {"p", db.password()}});
  const std::string action = ActionUrl(base, "ikvowebserver.dll", "/tabelas");

  HttpResponse r = HttpPost(action, fields);
  EXPECT_EQ(r.status, 200);
  EXPECT_EQ(r.Header("Content-Security-Policy"), "sandbox");
  EXPECT_EQ(r.Header("X-Content-Type-Options"), "nosniff");
  ASSERT_NE(r.body.find(table), std::string::npos) << r.body;
  // The positive control: the same bytes from a server that adds no header.
  attacker.Serve("/control", r.body);

  auto frame = [&](const std::string& beacon) {
    return platform::HtmlEscape("new Image().src='" + attacker.Url("/beacon?" + beacon) + "'");
  };
  std::string page = "<html><body>\n<iframe name=\"" + frame("tabelas") +
                     "\"></iframe>\n<form target=\"" + frame("tabelas") +
                     "\" method=\"post\" action=\"" + platform::HtmlEscape(action) + "\">";
  for (const auto& [name, value] : {std::pair<std::string, std::string>{"db", db.connection()},
                                    {"u", db.user()},
                                    {"p", db.password()}})
    page += "<input name=\"" + name + "\" value=\"" + platform::HtmlEscape(value) + "\">";
  page += "</form>\n<script>document.forms[0].submit();</script>\n</body></html>\n";
  attacker.Serve("/attack", page);
  BrowserDom(attacker.Url("/attack"), 5000);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_TRUE(Beacons(attacker).empty()) << Joined(attacker.Requests());

  attacker.Serve("/controls", "<html><body><iframe name=\"" + frame("control") +
                                  "\" src=\"/control\"></iframe></body></html>\n");
  BrowserDom(attacker.Url("/controls"), 5000);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_NE(Joined(Beacons(attacker)).find("/beacon?control"), std::string::npos)
      << "the control page's script did not run\n"
      << Joined(attacker.Requests());
}

}  // namespace
}  // namespace kvo::testing
