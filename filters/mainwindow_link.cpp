#include "filters/mainwindow_link.h"

#include "filters/disparity_filter.h"

TMainWindowLink* MainWindow = nullptr;

std::unique_ptr<TDisparitySetupLink> TMainWindowLink::MakeDisparitySetup(TDisparityFilter&) { return nullptr; }
