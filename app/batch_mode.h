#pragma once

// The workbench without any window: calibrating a saved views folder and
// making the depth files of a recorded pair, with the filters' own code.
//
//   stereo --calibrate VIEWS_DIR --board 9x6 --square-mm 25 --out calibration.yml
//   stereo --depth runL.avi --calibration calibration.yml --out DIR

#include <string>
#include <vector>

// The lines --help adds for the batch commands.
extern const char kBatchUsage[];

// True when the first argument is one of the batch commands.
bool AsksForBatch(const std::vector<std::string>& arguments);

// Runs the command; the program's exit code: 0 done, 1 an input that can not
// be used (named on standard error), 2 a command line that is not one.
int RunBatch(const std::vector<std::string>& arguments);
