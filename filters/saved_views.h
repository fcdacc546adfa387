#pragma once

// The calibration's views kept in a folder: each view's image pair as
// NNL.png / NNR.png (the names the stand-in rig's replay reads) and
// "views.yml" with the board size, square size and sub-pixel setting, so a
// rig can be calibrated again later, or elsewhere, from the same views.

#include <optional>
#include <string>
#include <vector>

class TCalibrationFilter;

struct TViewsSettings {
  int BoardWidth = 0;
  int BoardHeight = 0;
  double SquareSize_mm = 0;
  bool SubPixel = false;
};

// Writes the views' frames and settings; false (with a line in the
// calibration's log) when the folder or a file cannot be written.
bool SaveViews(TCalibrationFilter& calibration, const std::string& folder);

// The settings of a views folder; none (with the reason) when missing or
// damaged.
std::optional<TViewsSettings> ReadViewsSettings(const std::string& folder, std::string& why);

// The numbers NN of the folder's NNL.png / NNR.png pairs, in order.
std::vector<std::string> ViewPairNames(const std::string& folder);

// Searches every pair and stores the views found in place of the views
// held; one line for each pair that cannot be read, differs in size or
// shows no whole board. The number of views stored.
int LoadViewPairs(TCalibrationFilter& calibration, const std::string& folder,
                  const std::vector<std::string>& names);
