// UTF-8 <-> UTF-16 conversion of file paths, for hosts on POSIX systems where
// paths are UTF-8 bytes and the player takes UTF-16.
#pragma once

#include <optional>
#include <string>

namespace tiko::host {

// Null when the text is not valid UTF-8.
std::optional<std::u16string> Utf8ToUtf16(const std::string& text);
// Null when the text holds an unpaired surrogate.
std::optional<std::string> Utf16ToUtf8(const std::u16string& text);

}  // namespace tiko::host
