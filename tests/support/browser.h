// Test support: a real browser for the tests whose point is what a browser does with an answer
// (runs its script or not, shows its text). Headless Chromium from Debian loads one URL, runs
// its scripts and hands back the document as it stands afterwards.
#pragma once

#include <optional>
#include <string>

namespace kvo::testing {

// The browser's program, or nullopt when it is not installed (tests then skip, or fail under
// KVO_REQUIRE_SERVICES=1, through KVO_REQUIRE_BROWSER).
std::optional<std::string> BrowserProgram();
#define KVO_REQUIRE_BROWSER()                                                         \
  if (!::kvo::testing::BrowserProgram()) {                                            \
    if (::kvo::testing::Env("KVO_REQUIRE_SERVICES")) FAIL() << "chromium is missing"; \
    GTEST_SKIP() << "chromium is missing";                                            \
  }

// Loads `url` in a fresh headless browser (its own empty profile, no background traffic), lets
// scripts, form submissions and frames run for `budgetMs` of the page's time, and returns the
// final document serialised as HTML. Throws std::runtime_error when the browser cannot start or
// does not finish within a minute.
std::string BrowserDom(const std::string& url, int budgetMs = 3000);

}  // namespace kvo::testing
