// Filling the format fields of a message text from the string table.
#pragma once

#include <string>

namespace tarnvale {

// Replaces every "%s" with `text` and every "%d" with `code` in decimal;
// "%%" gives one percent sign and any other percent sequence stays as it is.
// The result grows to whatever length it needs, so a long command line is
// never cut, and a text from a resource library cannot make the formatting
// read arguments that are not there.
std::string FormatMessageText(const std::string& format, const std::string& text, long code);

}  // namespace tarnvale
