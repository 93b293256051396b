// What the console (console/web) reaches of the window: the operator's
// commands, the view and the message log. Window thread only: the console
// hands every call to the window thread through the window's queue.
#pragma once

#include "console/console_command.h"
#include "console/message_log.h"
#include "console/window_view.h"

namespace halvyn {

class ConsoleWindow {
 public:
  // input is what the operator typed with the command; it goes into the
  // controls first. Returns false for a command the window cannot run.
  virtual bool RunCommand(ConsoleCommand command, const ControlInput& input, int row) = 0;
  virtual WindowView View(bool withLog = true) const = 0;
  virtual const MessageLog& messageLog() const = 0;

 protected:
  ~ConsoleWindow() = default;
};

}  // namespace halvyn
