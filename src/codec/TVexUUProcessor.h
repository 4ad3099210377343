#pragma once
// Base64 (MIME alphabet, "=" padding) and uuencode between two streams. Encoded text comes in lines of
// 45 input bytes (60 characters) with CR LF after every line.
#include "framework/Events.h"
#include "framework/TComponent.h"
#include "framework/TStream.h"

#include <array>
#include <cstdint>
#include <string>

enum UUMethods : uint8_t { uuMime = 0, uuCode = 1 };

class TVexUUProcessor : public TComponent {
public:
    static constexpr char MimeTable[65] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    // Value 0 is the backquote, not the space, so that no line carries trailing blanks.
    static constexpr char UUTABLE[65] = "`!\"#$%&'()*+,-./0123456789:;<=>?@ABCDEFGHIJKLMNOPQRSTUVWXYZ[\\]^_";
    // Decode values of "+" (43) to "z" (122): alphabet 0-63, "=" 64, anything else 127.
    static constexpr uint8_t base64Table[80] = {
        62,  127, 127, 127, 63, 52, 53, 54, 55,  56,  57,  58,  59,  60,  61, 127, 127, 127, 64, 127,
        127, 127, 0,   1,   2,  3,  4,  5,  6,   7,   8,   9,   10,  11,  12, 13,  14,  15,  16, 17,
        18,  19,  20,  21,  22, 23, 24, 25, 127, 127, 127, 127, 127, 127, 26, 27,  28,  29,  30, 31,
        32,  33,  34,  35,  36, 37, 38, 39, 40,  41,  42,  43,  44,  45,  46, 47,  48,  49,  50, 51};

    explicit TVexUUProcessor(TComponent* AOwner);

    // Encodes all of InputStream (from its start) at OutputStream's position, then sets OutputStream's
    // position to 0 and fires OnEndEncode, also when a stream error passes.
    void Encode();
    // Decodes from InputStream's position at OutputStream's position; leaves both where they end.
    void Decode();

    void SetEncodeTable();
    static int UuDEC(char C) { return (static_cast<unsigned char>(C) - 32) & 63; }
    void Base64Decode();
    void StdDecode();
    // One line from Stream's position, without its line end; see the .cpp for lines without one.
    void ReadLnFromStream(TStream& Stream, std::string& Line);

    UUMethods Method = uuMime;
    TStream* InputStream = nullptr;
    TStream* OutputStream = nullptr;
    TNotifyEvent OnBeginEncode;
    TNotifyEvent OnEndEncode;
    TNotifyEvent OnBeginDecode;
    TNotifyEvent OnEndDecode;

private:
    void CheckStreams() const;
    void EncodeBlocks();
    void FinishEncode();

    std::array<char, 64> FEncodeTable{};
};
