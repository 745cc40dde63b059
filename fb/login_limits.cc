// What the server can take as a login or a user record, checked before anything is sent.
#include "fb/fb_api.h"
#include "platform/codepage.h"

namespace kvo::fb {

bool UserNameFitsServer(std::string_view userName) {
  const std::string utf8 = platform::Cp1252ToUtf8(userName);
  std::string_view name = utf8;
  // A quoted name keeps its letter case; the server strips the quotes before it keeps the name.
  if (name.size() >= 2 && name.front() == '"' && name.back() == '"') {
    name.remove_prefix(1);
    name.remove_suffix(1);
  }
  return name.size() <= kMaxUserNameBytes;
}

Error UnknownLogin() {
  return Error(
      "Your user name and password are not defined. Ask your database administrator to set up "
      "a Firebird login.",
      {335544472});
}

namespace api {

void RequireNoNul(std::string_view text) {
  if (text.find('\0') != std::string_view::npos) throw UnknownLogin();
}

void RequireLoginUserName(std::string_view userName) {
  if (!UserNameFitsServer(userName)) throw UnknownLogin();
}

void RequireRecordFields(std::string_view userName, std::string_view password) {
  if (!UserNameFitsServer(userName))
    throw Error("The user name is longer than " + std::to_string(kMaxUserNameBytes) + " bytes");
  if (userName.find('\0') != std::string_view::npos ||
      password.find('\0') != std::string_view::npos)
    throw Error("A user name or password holds a NUL byte");
}

}  // namespace api
}  // namespace kvo::fb
