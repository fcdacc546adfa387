#include "filters/mainwindow_link.h"

TMainWindowLink* MainWindow = nullptr;
