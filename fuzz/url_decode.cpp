// URLDecode on any text, and the round trip through URLEncode.
#include "FuzzCheck.h"
#include "codec/TVexURL.h"

#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
    const std::string Text(reinterpret_cast<const char*>(Data), Size);
    TVexURL Codec(nullptr);
    int Errors = 0;
    Codec.OnError = [&](TComponent*, const std::string&, const std::string&) { ++Errors; };

    const std::string Encoded = Codec.URLEncode(Text);
    FUZZ_CHECK(Errors == 0);
    FUZZ_CHECK(Encoded.find_first_not_of(
                   "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz+%") == std::string::npos);
    FUZZ_CHECK(Codec.URLDecode(Encoded) == Text);
    FUZZ_CHECK(Errors == 0);

    // Any text decodes or comes back unchanged with one error report; a decoded text is never longer.
    const std::string Decoded = Codec.URLDecode(Text);
    FUZZ_CHECK(Errors <= 1);
    if (Errors == 1) FUZZ_CHECK(Decoded == Text);
    FUZZ_CHECK(Decoded.size() <= Text.size());
    return 0;
}
