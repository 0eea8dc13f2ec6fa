#include "common/message_text.h"

namespace tarnvale {

std::string FormatMessageText(const std::string& format, const std::string& text, long code) {
    std::string result;
    result.reserve(format.size() + text.size() + 16);
    for (size_t i = 0; i < format.size(); ++i) {
        const char c = format[i];
        if (c != '%' || i + 1 == format.size()) {
            result += c;
            continue;
        }
        const char field = format[i + 1];
        if (field == 's') {
            result += text;
        } else if (field == 'd') {
            result += std::to_string(code);
        } else if (field == '%') {
            result += '%';
        } else {
            result += c;
            continue;
        }
        ++i;
    }
    return result;
}

}  // namespace tarnvale
