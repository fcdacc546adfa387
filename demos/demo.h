#pragma once

// What every demo shares: a registry by name, the windows as the program
// makes them, and small helpers to wait, click and save what is shown.

#include <QString>
#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "demos/rig_operator.h"

class QWidget;

namespace demo {

// A demo drives the windows and leaves its results in the output folder;
// further words of the command line come as arguments. It returns the
// program's exit code (0 when everything it meant to show was shown).
using DemoFunction = int (*)(const std::string& out_dir, const std::vector<std::string>& arguments);

// Runs before the windows are made, for what they read at start (the
// environment variables of the source lists, for example).
using PrepareFunction = void (*)();

// Made at namespace scope in a demo's own file:
//   const demo::Registration registration("calibrate", &RunCalibrate);
struct Registration {
  Registration(const char* name, DemoFunction function, PrepareFunction prepare = nullptr);
};

// Preparations the scene's demos share: the simulated board held at each
// pose the demo sets, and the textured depth scene held still.
void HoldSceneStill();
void PrepareStillScene();

using rig_operator::ProcessEventsFor;
using rig_operator::ProcessEventsUntil;

// Saves a picture of the widget as drawn now (PNG); false when it could not
// be written.
bool SaveWidget(QWidget* widget, const std::string& file);
// Writes the text to the file; false when it could not be written.
bool WriteText(const std::string& file, const std::string& text);
// A line on standard output, so a person running the demo follows it.
void Say(const QString& line);

}  // namespace demo
