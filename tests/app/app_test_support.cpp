#include "app_test_support.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QFileDialog>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "Video/vidclass/falcimp.h"
#include "Video/vidclass/uEyeimp.h"
#include "Video/vidclass/vidclass.h"
#include "app/Unit1.h"
#include "app/Unit2.h"
#include "app/application.h"
#include "demos/rig_operator.h"

namespace {

QString& ShownErrors() {
  static QString shown;
  return shown;
}

class ApplicationEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    uEyeimp::Load();
    falcimp::Load();
    if (QCoreApplication::instance() == nullptr) app_ = std::make_unique<TStereoApplication>(argc_, argv_);
    RecordShownErrors();
  }
  void TearDown() override {
    SetErrorReporter({});
    app_.reset();
    falcimp::Release();
    uEyeimp::Release();
  }

 private:
  int argc_ = 1;
  char name_[10] = "app_tests";
  char* argv_[2] = {name_, nullptr};
  std::unique_ptr<TStereoApplication> app_;
};

[[maybe_unused]] auto* const environment = ::testing::AddGlobalTestEnvironment(new ApplicationEnvironment);

}  // namespace

ScopedEnv::ScopedEnv(const char* name, const std::string& value) : name_(name) {
  if (const char* previous = std::getenv(name)) {
    previous_ = previous;
    had_previous_ = true;
  }
  setenv(name, value.c_str(), 1);
}

ScopedEnv::~ScopedEnv() {
  if (had_previous_) {
    setenv(name_.c_str(), previous_.c_str(), 1);
  } else {
    unsetenv(name_.c_str());
  }
}

ScopedSettingsFolder::ScopedSettingsFolder() : config_home_("XDG_CONFIG_HOME", dir_.path().toStdString()) {}

void ScopedSettingsFolder::WriteSettings(const std::string& text) const {
  std::ofstream(SettingsFile(), std::ios::binary | std::ios::trunc) << text;
}

std::string ScopedSettingsFolder::ReadSettings() const {
  std::ifstream file(SettingsFile(), std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

Windows::Windows() {
  form1 = std::make_unique<TForm1>();
  form2 = std::make_unique<TForm2>();
  Form2 = form2.get();
}

Windows::~Windows() {
  form1.reset();
  form2.reset();
}

namespace {

// The thread checker runs the program five to fifteen times slower; a wait
// for events gives the program that much longer before it gives up.
#if defined(__SANITIZE_THREAD__)
constexpr int kSlowdown = 8;
#else
constexpr int kSlowdown = 1;
#endif

}  // namespace

bool ProcessEventsUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
  return rig_operator::ProcessEventsUntil(condition, timeout * kSlowdown);
}

void ProcessEventsFor(std::chrono::milliseconds duration) { rig_operator::ProcessEventsFor(duration); }

int PairsToCount(int suite) {
  const char* asked = std::getenv("STEREO_MOMENT_PAIRS");
  return asked != nullptr ? std::max(1, std::atoi(asked)) : suite;
}

void AnswerFileDialog(std::function<QFileDialog*()> dialog, const QString& path) {
  // Queued: it runs inside the dialog's own event loop, once it is shown.
  QMetaObject::invokeMethod(
      QCoreApplication::instance(),
      [dialog = std::move(dialog), path] {
        QFileDialog* shown = dialog();
        if (shown == nullptr || !shown->isVisible()) return;
        // Typed into the name field: selectFile leaves a focused field alone.
        auto* name = shown->findChild<QLineEdit*>("fileNameEdit");
        if (name == nullptr) return;
        name->setText(path);
        // As the dialog's button does; accept is a slot, not public API.
        QMetaObject::invokeMethod(shown, "accept");
      },
      Qt::QueuedConnection);
}

QString TakeShownErrors() { return std::exchange(ShownErrors(), QString()); }

void RecordShownErrors() {
  SetErrorReporter([](const QString& message) { ShownErrors() += message + '\n'; });
}

DeliveryCounter::DeliveryCounter() { QCoreApplication::instance()->installEventFilter(this); }

DeliveryCounter::~DeliveryCounter() { QCoreApplication::instance()->removeEventFilter(this); }

bool DeliveryCounter::eventFilter(QObject* /*watched*/, QEvent* event) {
  if (event->type() == static_cast<QEvent::Type>(kFirstSourceMessage)) ++first;
  if (event->type() == static_cast<QEvent::Type>(kSecondSourceMessage)) ++second;
  return false;
}

bool SetUpSimulatedPair(TForm1& form) {
  for (auto [list, id] : {std::pair{form.ListBox1, 3001}, std::pair{form.ListBox2, 3002}}) {
    for (int row = 0; row < list->count(); ++row) {
      if (list->item(row)->data(Qt::UserRole).toInt() == id) list->setCurrentRow(row);
    }
  }
  form.BuInitBoth->click();
  return form.Device1 && form.Device2;
}

bool CamerasAvailable() { return uEyeimp::Loaded(); }
