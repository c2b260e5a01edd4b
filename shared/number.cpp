#include "shared/number.h"

#include "platform/platform.h"

#include <charconv>

namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

} // namespace

std::optional<double> TextToNumber(std::string_view text) {
    text = platform::Trim(text);
    if (!text.empty() && text.front() == '+') {
        text.remove_prefix(1);
    }
    // from_chars alone would also take "inf", "nan" and a second sign; only digits, a point
    // and an exponent make a number here.
    const auto body = text.substr(!text.empty() && text.front() == '-' ? 1 : 0);
    if (body.empty() || !(IsDigit(body.front()) || body.front() == '.')) {
        return std::nullopt;
    }
    double value = 0;
    const auto [end, error] =
        std::from_chars(text.data(), text.data() + text.size(), value, std::chars_format::general);
    if (error != std::errc{} || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}
