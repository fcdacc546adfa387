#include "app/application.h"

#include <fcntl.h>
#include <unistd.h>

#include <QMessageBox>
#include <QScopedValueRollback>
#include <QSocketNotifier>
#include <cerrno>
#include <charconv>
#include <csignal>
#include <cstdio>
#include <exception>
#include <utility>

namespace {

std::function<void(const QString&)>& Reporter() {
  static std::function<void(const QString&)> reporter;
  return reporter;
}

std::function<void(const QString&)>& ErrorLog() {
  static std::function<void(const QString&)> log;
  return log;
}

bool unattended_errors = false;

// Self-pipe: the handler may only write, the event loop reads.
int signal_pipe[2] = {-1, -1};

void HandleCloseSignal(int number) {
  const int saved_errno = errno;
  const char byte = static_cast<char>(number);
  [[maybe_unused]] const ssize_t written = write(signal_pipe[1], &byte, 1);
  errno = saved_errno;
}

}  // namespace

TStereoApplication::TStereoApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool TStereoApplication::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (...) {
    ShowCurrentException();
  }
  return false;
}

void ShowCurrentException() {
  try {
    throw;
  } catch (const std::exception& error) {
    ShowErrorMessage(QString::fromLocal8Bit(error.what()));
  } catch (...) {
    ShowErrorMessage(QStringLiteral("Unknown exception"));
  }
}

void ShowErrorMessage(const QString& message) {
  std::fprintf(stderr, "%s\n", message.toLocal8Bit().constData());
  if (unattended_errors) {
    if (ErrorLog()) ErrorLog()(message);
    return;
  }
  // The box's own event loop goes on delivering frame messages; a handler
  // that fails on every frame would open a box inside the box, without end.
  static bool showing = false;
  if (showing) return;
  const QScopedValueRollback<bool> shown(showing, true);
  if (Reporter()) {
    Reporter()(message);
    return;
  }
  QMessageBox::critical(nullptr, QApplication::applicationName(), message);
}

void SetUnattended(bool unattended) { unattended_errors = unattended; }

bool Unattended() { return unattended_errors; }

void SetErrorLog(std::function<void(const QString&)> log) { ErrorLog() = std::move(log); }

void SetErrorReporter(std::function<void(const QString&)> reporter) { Reporter() = std::move(reporter); }

void CatchCloseSignals() {
  if (signal_pipe[0] >= 0) return;
  if (pipe2(signal_pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
    std::perror("close signals");
    return;
  }
  struct sigaction action = {};
  action.sa_handler = HandleCloseSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART | SA_RESETHAND;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

void OnCloseSignal(std::function<void()> on_signal) {
  if (signal_pipe[0] < 0) return;
  auto* notifier = new QSocketNotifier(signal_pipe[0], QSocketNotifier::Read, qApp);
  QObject::connect(notifier, &QSocketNotifier::activated, notifier, [on_signal = std::move(on_signal)] {
    char drained[16];
    while (read(signal_pipe[0], drained, sizeof drained) > 0) {
    }
    SetUnattended(true);
    on_signal();
  });
}

const char kUsage[] =
    "Usage: stereo [options]\n"
    "Stereo camera workbench: pairs the frames of two sources, filters and shows them.\n"
    "\n"
    "Options:\n"
    "  --init-both             set up both sources chosen in the restored lists and\n"
    "                          start capture, as the \"Init\" below both lists does\n"
    "  --screenshot FILE       save an image of the windows to FILE (PNG) after a\n"
    "                          delay, then close the workbench\n"
    "  --screenshot-delay MS   the delay before the screenshot (default 3000)\n"
    "  -v, --version           show the versions of the workbench, Qt, OpenCV and\n"
    "                          GStreamer\n"
    "  -h, --help              show this text\n"
    "\n"
    "Settings are kept in $XDG_CONFIG_HOME/Stereo.ini (else ~/.config/Stereo.ini).\n"
    "SIGINT and SIGTERM close the workbench as its close box does.\n"
    "Qt's own options (for example -platform offscreen) are accepted too.\n";

StartOptions ParseStartOptions(const std::vector<std::string>& arguments) {
  StartOptions options;
  for (size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    const bool has_value = i + 1 < arguments.size();
    if (argument == "--help" || argument == "-h") {
      options.help = true;
    } else if (argument == "--version" || argument == "-v") {
      options.version = true;
    } else if (argument == "--init-both") {
      options.init_both = true;
    } else if (argument == "--screenshot" && has_value) {
      options.screenshot = arguments[++i];
    } else if (argument == "--screenshot-delay" && has_value) {
      const std::string& text = arguments[++i];
      int delay = -1;
      const auto result = std::from_chars(text.data(), text.data() + text.size(), delay);
      if (result.ec != std::errc() || result.ptr != text.data() + text.size() || delay < 0) {
        options.error = "--screenshot-delay needs a number of milliseconds, not \"" + text + "\"";
        return options;
      }
      options.screenshot_delay_ms = delay;
    } else {
      options.error = "Unknown option \"" + argument + "\"";
      return options;
    }
  }
  return options;
}
