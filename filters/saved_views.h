#pragma once

// The calibration's views kept in a folder: each view's image pair as
// NNL.png / NNR.png (the names the stand-in rig's replay reads) and
// "views.yml" with the board size, square size and sub-pixel setting, so a
// rig can be calibrated again later, or elsewhere, from the same views.

#include <functional>
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

// Largest side of a view image: the board search on a far larger frame
// takes minutes.
inline constexpr int kLargestViewSide = 4096;

// Writes the views' frames and settings as a clean set: older NNL.png /
// NNR.png of the folder are removed first. False (with a line in the
// calibration's log) when the folder or a file cannot be written.
bool SaveViews(TCalibrationFilter& calibration, const std::string& folder);

// The settings of a views folder; none (with the reason) when missing,
// damaged or out of bounds.
std::optional<TViewsSettings> ReadViewsSettings(const std::string& folder, std::string& why);

// The numbers NN of the folder's NNL.png and NNR.png, each once, in order.
std::vector<std::string> ViewPairNames(const std::string& folder);

// Told after each pair (pairs searched, pairs); false stops the load.
using TViewsProgress = std::function<bool(int searched, int pairs)>;

// Searches every pair and stores the views found in place of the views
// held; one line for each pair that is incomplete, cannot be read, is not
// an 8-bit grey or colour picture, is too large, differs in size or shows
// no whole board. The number of views stored.
int LoadViewPairs(TCalibrationFilter& calibration, const std::string& folder,
                  const std::vector<std::string>& names, const TViewsProgress& progress = {});
