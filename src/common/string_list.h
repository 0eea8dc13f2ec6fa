// The ordered, growable list of strings, indexed from 0, that the SIM cleanup
// keeps its SIM names, GUIDs and sub-folder paths in.
#pragma once

#include <string>
#include <vector>

namespace tarnvale {

using StringList = std::vector<std::string>;

}  // namespace tarnvale
