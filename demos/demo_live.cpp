// "live": both simulated cameras set up and started from the main window's
// lists, running for a few seconds; leaves display.png and log.txt.

#include <QPlainTextEdit>

#include "Video/vidclass/vidclass.h"
#include "app/Unit1.h"
#include "app/Unit2.h"
#include "demos/demo.h"
#include "demos/rig_operator.h"

namespace {

int RunLive(const std::string& out_dir, const std::vector<std::string>& /*arguments*/) {
  if (!rig_operator::SetUpBothCameras(*Form1)) {
    demo::Say("The simulated cameras did not open (is libuEye_api.so beside the program?)");
    return 1;
  }
  demo::ProcessEventsFor(std::chrono::seconds(3));
  const bool saved = demo::SaveWidget(Form2, out_dir + "/display.png");
  demo::WriteText(out_dir + "/log.txt", Form1->MeLog->toPlainText().toStdString() + "\n");
  return saved ? 0 : 1;
}

const demo::Registration registration("live", &RunLive);

}  // namespace
