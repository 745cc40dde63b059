// A user interface for tests: records the error boxes and the wait window's life.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "kvo/client/ui.h"

namespace kvo::testing {

class RecordingUserInterface : public client::TUserInterface {
 public:
  std::vector<std::string> errors;
  // "wait shown" / "wait closed", in order.
  std::vector<std::string> events;
  client::TWaitWindowLayout lastLayout;

  void ShowError(const std::string& text) override { errors.push_back(text); }
  std::unique_ptr<client::TWaitWindow> ShowWaitWindow(
      const client::TWaitWindowLayout& layout) override {
    lastLayout = layout;
    events.push_back("wait shown");
    return std::make_unique<Window>(events);
  }

 private:
  class Window : public client::TWaitWindow {
   public:
    explicit Window(std::vector<std::string>& events) : events_(events) {}
    ~Window() override { events_.push_back("wait closed"); }

   private:
    std::vector<std::string>& events_;
  };
};

}  // namespace kvo::testing
