// The user-interface facilities of the components: the modal error box and the wait window of
// a remote exchange. A program installs its own implementation; without one, the console
// default writes error texts to standard error and shows no wait window.
#pragma once

#include <memory>
#include <string>

#include "kvo/client/export.h"

namespace kvo::client {

// How the wait window looks (the values a graphical implementation should use).
struct TWaitWindowLayout {
  std::string Title = "Aguarde...";  // not visible: the window has no border
  int Width = 300;
  int Height = 40;
  int Left = 10;                                    // pixels from the left of the screen
  int BottomOffset = 100;                           // top edge = screen height - BottomOffset
  unsigned Color = 0xFFFF00;                        // red 255, green 255, blue 0 (window and panel)
  std::string Caption = "Conectando ao WebServer";  // centred, lowered inner bevel
  std::string FontName = "Arial";
  int FontSize = 11;  // points, bold, black
  bool StayOnTop = true;
  bool Borderless = true;
  bool Activate = false;  // shown on top without taking the focus
};

// A shown wait window; destroying it closes and frees the window.
class KVO_CLIENT_API TWaitWindow {
 public:
  virtual ~TWaitWindow() = default;
};

class KVO_CLIENT_API TUserInterface {
 public:
  virtual ~TUserInterface() = default;
  // A modal message box marked as an error, with one OK button; returns when it is closed.
  // `text` is Windows-1252 and may hold CR (0x0D) line breaks.
  virtual void ShowError(const std::string& text) = 0;
  // Creates, shows and paints the wait window at once; nullptr when there is none to show.
  virtual std::unique_ptr<TWaitWindow> ShowWaitWindow(const TWaitWindowLayout& layout) = 0;
};

// The console default: ShowError writes the text to standard error (converted to UTF-8, each
// CR as a line end, one line end after it); no wait window.
class KVO_CLIENT_API TConsoleUserInterface : public TUserInterface {
 public:
  void ShowError(const std::string& text) override;
  std::unique_ptr<TWaitWindow> ShowWaitWindow(const TWaitWindowLayout& layout) override;
};

// The facility in use: the installed one, or the console default.
KVO_CLIENT_API TUserInterface& UserInterface();
// Installs `ui` for the whole process (not owned: it must stay alive while installed);
// nullptr restores the console default.
KVO_CLIENT_API void SetUserInterface(TUserInterface* ui);

// Installs a user interface for the lifetime of the object, then restores the previous one.
class KVO_CLIENT_API TScopedUserInterface {
 public:
  explicit TScopedUserInterface(TUserInterface& ui);
  ~TScopedUserInterface();
  TScopedUserInterface(const TScopedUserInterface&) = delete;
  TScopedUserInterface& operator=(const TScopedUserInterface&) = delete;

 private:
  TUserInterface* previous_;
};

}  // namespace kvo::client
