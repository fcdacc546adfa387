#pragma once

#include <QApplication>
#include <QString>
#include <functional>
#include <string>
#include <vector>

// The workbench's application object. An exception that escapes an event
// handler ends only that handler: its message is shown and the program goes on.
class TStereoApplication : public QApplication {
  Q_OBJECT
 public:
  TStereoApplication(int& argc, char** argv);

  bool notify(QObject* receiver, QEvent* event) override;
};

// Shows an error message to the operator (a message box, and a line on
// standard error so a workbench run from a terminal keeps a record). While
// one message is shown, further ones go to standard error only.
void ShowErrorMessage(const QString& message);

// From now on errors are not shown in boxes: a close asked for by a signal
// must end without waiting for a click that never comes (offscreen, under a
// service manager, at logout). ShowErrorMessage then writes standard error
// and the log sink only.
void SetUnattended(bool unattended);
bool Unattended();
// Where unattended errors are logged besides standard error; an empty
// function logs them nowhere else.
void SetErrorLog(std::function<void(const QString&)> log);

// Shows the exception being handled; call it only inside a catch block.
void ShowCurrentException();

// A control's handler for a signal connection. Qt's widget code between the
// control and the handler is not built to be unwound, so an exception the
// handler raises is caught here and shown as notify shows one from an event.
template <class Handler>
auto GuardedWith(Handler handler) {
  return [handler = std::move(handler)](auto&&... arguments) {
    try {
      handler(arguments...);
    } catch (...) {
      ShowCurrentException();
    }
  };
}

// The same for a handler that takes none of the signal's arguments.
template <class Handler>
auto Guarded(Handler handler) {
  return GuardedWith([handler = std::move(handler)](auto&&...) { handler(); });
}

// Replaces how ShowErrorMessage reports; tests install a recorder. An empty
// function restores the message box.
void SetErrorReporter(std::function<void(const QString&)> reporter);

// SIGINT and SIGTERM are caught from here on and kept until the event loop
// can act on them; call it first thing, before any window exists. A second
// signal of the same kind takes its default action, so a program stuck in
// its close path can still be ended.
void CatchCloseSignals();

// Calls on_signal on the user-interface thread for each caught signal, where
// closing windows is safe, with errors unattended from then on. Needs the
// application object.
void OnCloseSignal(std::function<void()> on_signal);

// What the command line asks of the workbench besides Qt's own options.
struct StartOptions {
  bool help = false;
  bool version = false;
  // Set up both sources from the restored list selections and start them.
  bool init_both = false;
  // Saves an image of the windows to this file after screenshot_delay_ms, then
  // closes the workbench; empty: no screenshot.
  std::string screenshot;
  int screenshot_delay_ms = 3000;
  // Why the command line was refused; empty when it was accepted.
  std::string error;
};

StartOptions ParseStartOptions(const std::vector<std::string>& arguments);

// The text --help prints.
extern const char kUsage[];
