#include "kvo/client/ui.h"

#include <cstdio>

#include "platform/codepage.h"

namespace kvo::client {

namespace {
TUserInterface* installed = nullptr;
}

void TConsoleUserInterface::ShowError(const std::string& text) {
  // A console shows a bare CR as a return to the start of the same line, which would hide the
  // first part of a two-line message.
  std::string lines;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r') {
      lines += '\n';
      if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else {
      lines += text[i];
    }
  }
  std::string out = platform::Cp1252ToUtf8(lines) + "\n";
  std::fwrite(out.data(), 1, out.size(), stderr);
  std::fflush(stderr);
}

std::unique_ptr<TWaitWindow> TConsoleUserInterface::ShowWaitWindow(const TWaitWindowLayout&) {
  return nullptr;
}

TUserInterface& UserInterface() {
  static TConsoleUserInterface console;
  return installed ? *installed : console;
}

void SetUserInterface(TUserInterface* ui) {
  installed = ui;
}

TScopedUserInterface::TScopedUserInterface(TUserInterface& ui) : previous_(installed) {
  installed = &ui;
}

TScopedUserInterface::~TScopedUserInterface() {
  installed = previous_;
}

}  // namespace kvo::client
