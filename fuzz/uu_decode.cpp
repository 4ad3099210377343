// Decode of any text in both modes, and Decode(Encode(x)) == x in both.
#include "FuzzCheck.h"
#include "codec/TVexUUProcessor.h"
#include "framework/Exceptions.h"
#include "framework/TMemoryStream.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <string>

namespace {

std::string Run(UUMethods Method, bool Encoding, const std::string& Input) {
    TMemoryStream In;
    In.WriteBuffer(Input.data(), static_cast<int64_t>(Input.size()));
    In.SetPosition(0);
    TMemoryStream Out;
    TVexUUProcessor Codec(nullptr);
    Codec.Method = Method;
    Codec.InputStream = &In;
    Codec.OutputStream = &Out;
    if (Encoding) {
        Codec.Encode();
    } else {
        Codec.Decode();
        // Decoding stops only at the end of the input or at the text's own end mark.
        FUZZ_CHECK(In.Position() <= In.Size());
    }
    return Out.DataString();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
    FuzzedDataProvider In(Data, Size);
    const auto Method = static_cast<UUMethods>(In.ConsumeIntegralInRange<int>(0, 1));
    const std::string Text = In.ConsumeRemainingBytesAsString();

    const std::string Decoded = Run(Method, false, Text);
    // Four characters carry at most three bytes, and a uuencoded line (length character, at most 63
    // bytes announced) never more than 63.
    FUZZ_CHECK(Decoded.size() <= Text.size() * 63);

    for (UUMethods M : {uuMime, uuCode}) {
        const std::string Encoded = Run(M, true, Text);
        FUZZ_CHECK(Run(M, false, Encoded) == Text);
    }
    return 0;
}
