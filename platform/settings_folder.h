#pragma once

#include <string>

namespace platform {

// The per-user configuration folder: $XDG_CONFIG_HOME, else ~/.config; empty
// when neither can be determined.
std::string UserSettingsFolder();

}  // namespace platform
