#include "tests/support/fb_testdb.h"

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <stdexcept>

namespace kvo::testing {

namespace {

std::string Required(const char* name) {
  auto v = Env(name);
  if (!v) throw std::runtime_error(std::string(name) + " is not set");
  return *v;
}

}  // namespace

std::string ServerPath(const std::string& path) {
  return "localhost/" + Required("KVO_FB_PORT") + ":" + path;
}

TempDatabase::TempDatabase(std::string_view charSet)
    : port_(Required("KVO_FB_PORT")),
      user_(Required("KVO_FB_USER")),
      password_(Required("KVO_FB_PASSWORD")) {
  static std::atomic<int> counter{0};
  auto now = std::chrono::steady_clock::now().time_since_epoch().count();
  path_ = Required("KVO_FB_DATADIR") + "/t" + std::to_string(getpid()) + "_" +
          std::to_string(counter++) + "_" + std::to_string(now % 1000000007) + ".fdb";
  fb::Attachment::Create(connection(), params(), charSet).Close();
}

TempDatabase::~TempDatabase() {
  try {
    Attach().Drop();
  } catch (...) {
    std::error_code ec;
    std::filesystem::remove(path_, ec);
  }
}

std::string TempDatabase::connection() const {
  return "localhost/" + port_ + ":" + path_;
}

std::vector<std::string> TempDatabase::params() const {
  return {"user_name=" + user_, "password=" + password_};
}

fb::Attachment TempDatabase::Attach() const {
  return fb::Attachment::Open(connection(), params());
}

void TempDatabase::Execute(const std::vector<std::string>& statements) const {
  fb::Attachment a = Attach();
  for (const std::string& sql : statements) {
    fb::Transaction t = a.StartTransaction();
    a.ExecuteImmediate(t, sql);
    t.Commit();
  }
  a.Close();
}

}  // namespace kvo::testing
