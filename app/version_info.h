#pragma once

#include <string>

// The workbench's version: the project's version and the commit it was built from.
extern const char kStereoVersion[];

// What --version prints: the workbench's version, then the versions of Qt,
// OpenCV and GStreamer that the running program has loaded, one a line.
std::string VersionText();
