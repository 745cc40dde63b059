// A user name the database server cannot keep (over 31 bytes of UTF-8) ends the Firebird 3
// server process when it arrives in an attach's parameters, whoever sends it. The program never
// sends one: every action answers such a login as it answers a wrong user name, and the
// user manager refuses to write such a user. Each test runs its own server, since a regression
// would end it.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "fb/fb.h"
#include "tests/support/form.h"
#include "tests/support/own_firebird.h"

namespace kvo::app {
namespace {

using testing::Form;
using testing::OwnFirebird;

const std::string kLong32(32, 'A');
const std::string kAccented16(16, '\xE9');  // "é" in Windows-1252, 2 bytes each in UTF-8

std::string RawAttach(const std::string& kind, const std::string& name, const std::string& user) {
  const std::string command =
      std::string(KVO_FB_RAW_ATTACH) + " " + kind + " '" + name + "' '" + user + "' x 2>&1";
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
  std::string out;
  char buf[1024];
  size_t n;
  while (pipe && (n = fread(buf, 1, sizeof buf, pipe.get())) > 0) out.append(buf, n);
  return out;
}

// The requests of every action that logs in on a caller's behalf, for user `u`.
std::vector<std::pair<std::string, std::string>> LoginRequests(const OwnFirebird& fb,
                                                               const std::string& u) {
  const std::string db = fb.Database("t.fdb");
  return {
      {"/login", Form({{"db", db}, {"u", u}, {"p", "x"}})},
      {"/tabelas", Form({{"db", db}, {"u", u}, {"p", "x"}})},
      {"/sql", Form({{"db", db}, {"u", u}, {"p", "x"}, {"q", "select 1 from rdb$database"}})},
      {"/sql", Form({{"db", db}, {"u", u}, {"p", "x"}, {"q", "delete from t"}})},
      {"/memo", Form({{"db", db}, {"u", u}, {"p", "x"}, {"cnpj", "1"}})},
      {"/criarib", Form({{"db", db},
                         {"p", "user_name=" + u + "\r\npassword=x"},
                         {"q", "select 1 from rdb$database"}})},
      {"/usermanager", Form({{"u", u}, {"p", "x"}, {"o", "show"}})},
  };
}

TEST(OverLongLogin, AnsweredAsAWrongUserNameAndTheServerLivesOn) {
  OwnFirebird fb;
  const std::vector<std::string> sysdba = {"user_name=SYSDBA", "password=" + fb.password()};
  fb::Attachment::Create(fb.Database("t.fdb"), sysdba).Close();
  const std::map<std::string, std::string> env = {{"FIREBIRD", fb.clientFolder()}};

  // The answers to a wrong user name, action by action.
  std::vector<std::string> expected;
  for (const auto& [path, body] : LoginRequests(fb, "NOSUCHUSER"))
    expected.push_back(testing::PostCgi(path, body, env).output);
  const struct {
    const char* what;
    std::string name;
  } kNames[] = {
      {"32 ASCII letters", kLong32},
      {"16 accented letters, 32 bytes in UTF-8", kAccented16},
      {"32 letters between quotes", "\"" + kLong32 + "\""},
      {"31 letters and a blank", std::string(31, 'A') + " "},
  };
  for (const auto& name : kNames) {
    const auto requests = LoginRequests(fb, name.name);
    for (size_t i = 0; i < requests.size(); ++i) {
      SCOPED_TRACE(std::string(name.what) + " " + requests[i].first + " " + requests[i].second);
      EXPECT_EQ(testing::PostCgi(requests[i].first, requests[i].second, env).output, expected[i]);
    }
  }

  // The user manager's own text for a user record the server could not keep.
  for (const char* operation : {"add", "upd", "del"}) {
    SCOPED_TRACE(operation);
    const auto r = testing::PostCgi("/usermanager",
                                    Form({{"u", "SYSDBA"},
                                          {"p", fb.password()},
                                          {"o", operation},
                                          {"username", kAccented16},
                                          {"password", "x"}}),
                                    env);
    EXPECT_EQ(r.Body(), "Erro: O nome do usu\xE1rio n\xE3o pode passar de 31 bytes (em UTF-8)");
  }

  // The server dies a moment after the attach, not during it.
  EXPECT_FALSE(fb.EndsWithin(3)) << "the Firebird server ended";
  EXPECT_NO_THROW(fb::Attachment::Open(fb.Database("t.fdb"), sysdba).Close());
  // A name of 31 bytes is a name like any other: the server answers it.
  const auto exact = testing::PostCgi(
      "/login", Form({{"db", fb.Database("t.fdb")}, {"u", std::string(31, 'A')}, {"p", "x"}}), env);
  EXPECT_EQ(exact.Body(), "false");
  EXPECT_TRUE(fb.Running());
}

// The positive control: the same names through the bare client API do end the server.
TEST(OverLongLogin, TheBareClientApiEndsTheServer) {
  const struct {
    const char* kind;
    bool services;
  } kCases[] = {{"database", false}, {"services", true}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.kind);
    OwnFirebird fb;
    const std::string name =
        c.services ? "localhost/" + fb.port() + ":service_mgr" : fb.Database("none.fdb");
    RawAttach(c.kind, name, kLong32);
    EXPECT_TRUE(fb.EndsWithin(10)) << "the Firebird server still runs";
  }
}

}  // namespace
}  // namespace kvo::app
