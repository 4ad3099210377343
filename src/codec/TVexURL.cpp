#include "TVexURL.h"

#include "framework/Exceptions.h"
#include "framework/TextHelpers.h"

TVexURL::TVexURL(TComponent* AOwner) : TComponent(AOwner) {}

std::string TVexURL::URLEncode(const std::string& Text) {
    static constexpr char HexDigits[] = "0123456789ABCDEF";
    try {
        std::string Result;
        Result.reserve(Text.size());
        for (char C : Text) {
            if ((C >= '0' && C <= '9') || (C >= 'A' && C <= 'Z') || (C >= 'a' && C <= 'z')) {
                Result += C;
            } else if (C == ' ') {
                Result += '+';
            } else {
                auto Byte = static_cast<unsigned char>(C);
                Result += '%';
                Result += HexDigits[Byte >> 4];
                Result += HexDigits[Byte & 15];
            }
        }
        return Result;
    } catch (const std::exception& Error) {
        ReportError(EncodeErrorText, Error);
        return Text;
    }
}

std::string TVexURL::URLDecode(const std::string& Text) {
    try {
        std::string Result;
        Result.reserve(Text.size());
        size_t I = 0;
        while (I < Text.size()) {
            char C = Text[I];
            if (C == '+') {
                Result += ' ';
                ++I;
            } else if (C == '%') {
                // A single hex digit would pass the integer conversion on its own, yet an escape needs two.
                if (Text.size() - I < 3)
                    throw EConversionError(FrameworkTexts::NotAnInteger("$" + Text.substr(I + 1)));
                // Two hexadecimal digits always give a code from 0 to 255.
                Result += static_cast<char>(StrToInt("$" + Text.substr(I + 1, 2)));
                I += 3;
            } else {
                Result += C;
                ++I;
            }
        }
        return Result;
    } catch (const std::exception& Error) {
        ReportError(DecodeErrorText, Error);
        return Text;
    }
}

void TVexURL::ReportError(const char* Operation, const std::exception& Error) {
    if (!OnError) return;
    // The message may hold zero bytes (an escape of "%" and a NUL), which what() would cut off.
    const auto* Own = dynamic_cast<const Exception*>(&Error);
    OnError(this, Operation, Own ? Own->Message : std::string(Error.what()));
}
