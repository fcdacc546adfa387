// "soak SECONDS": both simulated cameras live in trigger mode at their
// highest rate with a difference filter, for SECONDS (default 60);
// scripts/soak.sh watches the program's memory and core share meanwhile.
// Leaves log.txt, and heap.txt: the heap as the allocator counts it, renewed
// every second.

#include <QCheckBox>
#include <QPlainTextEdit>
#include <QSlider>
#include <QTimer>
#include <cstdio>
#include <string>

#if defined(__SANITIZE_ADDRESS__)
// The sanitizer's allocator counts; its own header is not shipped with GCC.
extern "C" size_t __sanitizer_get_current_allocated_bytes();
extern "C" size_t __sanitizer_get_heap_size();
#else
#include <malloc.h>
#endif

#include "Video/vidclass/vidclass.h"
#include "app/Unit1.h"
#include "app/filter_list_box.h"
#include "demos/demo.h"
#include "demos/rig_operator.h"

namespace {

// Bytes the program holds, and bytes the allocator has taken from the system
// for its heap (the sanitizer's allocator keeps its own, which drifts with
// the mix of block sizes freed).
struct HeapFigures {
  size_t Held = 0;
  size_t Mapped = 0;
};

HeapFigures CountHeap() {
#if defined(__SANITIZE_ADDRESS__)
  return {__sanitizer_get_current_allocated_bytes(), __sanitizer_get_heap_size()};
#else
  const struct mallinfo2 info = mallinfo2();
  return {info.uordblks + info.hblkhd, info.arena + info.hblkhd};
#endif
}

// "HELD MAPPED" in KiB, replaced whole so a reader never sees half a line.
void WriteHeapFigures(const std::string& file) {
  const HeapFigures heap = CountHeap();
  const std::string partial = file + ".part";
  if (!demo::WriteText(partial,
                       std::to_string(heap.Held / 1024) + " " + std::to_string(heap.Mapped / 1024) + "\n")) {
    return;
  }
  std::rename(partial.c_str(), file.c_str());
}

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
  QTimer heap_clock;
  QObject::connect(&heap_clock, &QTimer::timeout, [&] { WriteHeapFigures(out_dir + "/heap.txt"); });
  WriteHeapFigures(out_dir + "/heap.txt");
  heap_clock.start(1000);
  demo::ProcessEventsFor(std::chrono::seconds(seconds));
  heap_clock.stop();
  form.ChTrigger->click();
  demo::WriteText(out_dir + "/log.txt", form.MeLog->toPlainText().toStdString() + "\n");
  return 0;
}

const demo::Registration registration("soak", &RunSoak);

}  // namespace
