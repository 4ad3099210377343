#pragma once
// Process and text services: the executable's folder, a blocking sleep, Shift-JIS <-> UTF-8.
#include <string>

namespace platform {

// The folder of the running executable with its trailing "/". When that folder cannot be written or is
// one of the system's program folders such as /usr/bin/ (an installed copy), the per-user folder
// ~/.local/share/vindral/ (home from the user database, created on first use) takes its place.
std::string ExecutableDirectory();

// The per-user folder "<Home>/.local/share/vindral/", with its trailing "/": private to the user (0700),
// made so where missing (with the folders above it), and made so again where it is not. Empty when it
// cannot be made.
std::string UserDataFolder(const std::string& Home);

// Blocks the calling thread; no messages are processed.
void Sleep(unsigned Milliseconds);

// Converts between the system's Shift-JIS (CP932) bytes and UTF-8. Bytes that cannot be converted
// become "?" rather than being lost silently at the end of the text.
std::string SjisToUtf8(const std::string& Sjis);
std::string Utf8ToSjis(const std::string& Utf8);

} // namespace platform
