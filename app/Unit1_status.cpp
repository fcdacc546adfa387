// The main window's live status panel and its "View" menu.

#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QStatusBar>
#include <QTimer>

#include "app/Unit1.h"
#include "app/Unit2.h"
#include "app/live_rates.h"
#include "app/view3d.h"

namespace {

// The panel is redrawn this often; the rates look back two seconds.
constexpr int kRatesRefresh_ms = 500;

}  // namespace

void TForm1::SetUpViewMenu() {
  QMenu* view = menuBar()->addMenu(QStringLiteral("&View"));
  AcShowDisplay = view->addAction(QStringLiteral("Display window"));
  AcShowDisplay->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_D));
  AcShowDisplay->setShortcutContext(Qt::ApplicationShortcut);
  AcShow3D = view->addAction(QStringLiteral("3D view"));
  AcShow3D->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_3));
  AcShow3D->setShortcutContext(Qt::ApplicationShortcut);
  connect(AcShowDisplay, &QAction::triggered, this, [this] { ShowDisplayWindow(); });
  connect(AcShow3D, &QAction::triggered, this, [] { ShowView3D(); });
}

void TForm1::ShowDisplayWindow() {
  if (Form2 == nullptr) return;
  Form2->show();
  Form2->raise();
  Form2->activateWindow();
}

void TForm1::SetUpStatusPanel() {
  live_rates_ = std::make_unique<TLiveRates>();
  LaRates = new QLabel(this);
  LaRates->setObjectName(QStringLiteral("LaRates"));
  // A permanent widget stands right of the first panel's message.
  StatusBar1->addPermanentWidget(LaRates);
  auto* timer = new QTimer(this);
  connect(timer, &QTimer::timeout, this, [this] { ShowRates(); });
  timer->start(kRatesRefresh_ms);
  ShowRates();
}

void TForm1::CountArrival(int side, const FrameStamp& stamp) {
  live_rates_->Frame(side, stamp, SteadyNow_ms());
}

void TForm1::CountPair() { live_rates_->Pair(SteadyNow_ms()); }

void TForm1::ShowRates() {
  const std::optional<TRecordingShown> recording =
      recording_shown_ ? std::optional<TRecordingShown>(*recording_shown_) : std::nullopt;
  LaRates->setText(QString::fromStdString(RatesLine(live_rates_->Now(SteadyNow_ms()), recording)));
}

void TForm1::ShowRecording(double seconds, int64_t frames_left, int64_t frames_right) {
  if (seconds < 0) {
    recording_shown_.reset();
  } else {
    recording_shown_ = std::make_unique<TRecordingShown>(TRecordingShown{seconds, frames_left, frames_right});
  }
  ShowRates();
}
