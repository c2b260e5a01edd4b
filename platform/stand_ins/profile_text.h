#pragma once

// The encodings of a profile file: bytes as they are (ANSI or UTF-8, with or without a byte-order
// mark), or UTF-16 with its byte-order mark, either way round, as Notepad's "Unicode" saves it.
// A UTF-16 file is edited as UTF-8 and written back in its own encoding.

#include <string>
#include <string_view>

namespace platform::stand_ins {

enum class Encoding { Bytes, Utf16Le, Utf16Be };

Encoding EncodingOf(std::string_view bytes);
std::string Decode(std::string bytes, Encoding encoding);
std::string Encode(std::string text, Encoding encoding);

} // namespace platform::stand_ins
