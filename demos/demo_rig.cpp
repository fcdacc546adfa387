#include "demos/demo_rig.h"

#include <QListWidget>
#include <QPushButton>

#include "Video/vidclass/vidclass.h"
#include "app/Unit1.h"
#include "demos/demo.h"

namespace demo {
namespace {

bool SelectDevice(QListWidget* list, int id) {
  for (int row = 0; row < list->count(); ++row) {
    if (list->item(row)->data(Qt::UserRole).toInt() == id) {
      list->setCurrentRow(row);
      return true;
    }
  }
  return false;
}

}  // namespace

bool SetUpBothCameras() {
  if (!SelectDevice(Form1->ListBox1, kUEyeDeviceIdBase + 1) ||
      !SelectDevice(Form1->ListBox2, kUEyeDeviceIdBase + 2)) {
    Say("The simulated cameras are not listed (is libuEye_api.so beside the program?)");
    return false;
  }
  Form1->BuInitBoth->click();
  if (!Form1->Device1 || !Form1->Device2) {
    Say("The cameras did not open");
    return false;
  }
  return true;
}

}  // namespace demo
