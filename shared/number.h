#pragma once

#include <optional>
#include <string_view>

// Converts the whole text to a number: blanks, a sign, digits with a decimal point and an
// exponent. Text that is not a number as a whole (including the empty text) gives nothing.
std::optional<double> TextToNumber(std::string_view text);
