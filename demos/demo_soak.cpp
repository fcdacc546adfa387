// "soak SECONDS": both simulated cameras live in trigger mode at their
// highest rate with a difference filter, for SECONDS (default 60);
// scripts/soak.sh watches the program's memory and core share meanwhile.
// Leaves log.txt.

#include <QCheckBox>
#include <QPlainTextEdit>
#include <QSlider>
#include <string>

#include "Video/vidclass/vidclass.h"
#include "app/Unit1.h"
#include "app/filter_list_box.h"
#include "demos/demo.h"
#include "demos/rig_operator.h"

namespace {

int RunSoak(const std::string& out_dir, const std::vector<std::string>& arguments) {
  const int seconds = arguments.empty() ? 60 : std::stoi(arguments.front());
  TForm1& form = *Form1;
  if (!rig_operator::SetUpBothCameras(form)) {
    demo::Say("The simulated cameras did not open (is libuEye_api.so beside the program?)");
    return 1;
  }
  // The fastest pixel clock; its move gives the frame-rate slider the
  // cameras' range.
  form.tbPixelClock->setValue(form.tbPixelClock->maximum());
  form.tbPixelClockChange();
  form.tbFrameRate->setValue(form.tbFrameRate->maximum());
  rig_operator::DropPanel(form, form.PaDiff);
  form.ChTrigger->click();
  demo::Say(
      QString("Trigger mode at %1 frames per second for %2 s").arg(form.Device1->FrameRate).arg(seconds));
  demo::ProcessEventsFor(std::chrono::seconds(seconds));
  form.ChTrigger->click();
  demo::WriteText(out_dir + "/log.txt", form.MeLog->toPlainText().toStdString() + "\n");
  return 0;
}

const demo::Registration registration("soak", &RunSoak);

}  // namespace
