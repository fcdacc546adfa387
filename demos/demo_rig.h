#pragma once

// The simulated rig as the demos use it: both cameras picked in the lists.

namespace demo {

// Picks the first and second simulated camera in the two lists and presses
// the "Init" below both; false (with a line said) when they did not open.
bool SetUpBothCameras();

}  // namespace demo
