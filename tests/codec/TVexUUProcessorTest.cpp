#include "codec/TVexUUProcessor.h"

#include "UuVectors.h"
#include "framework/Exceptions.h"
#include "framework/TMemoryStream.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

TMemoryStream StreamOf(const std::string& Bytes) {
    TMemoryStream S;
    S.WriteBuffer(Bytes.data(), static_cast<int64_t>(Bytes.size()));
    S.SetPosition(0);
    return S;
}

std::string Encoded(UUMethods Method, const std::string& Data) {
    TMemoryStream In = StreamOf(Data);
    TMemoryStream Out;
    TVexUUProcessor Uu(nullptr);
    Uu.Method = Method;
    Uu.InputStream = &In;
    Uu.OutputStream = &Out;
    Uu.Encode();
    return Out.DataString();
}

// Decodes Text from its start. Whatever the text, the decoder must end with the input at or before its
// size, and uudecoding reads to the end.
std::string Decoded(UUMethods Method, const std::string& Text) {
    TMemoryStream In = StreamOf(Text);
    TMemoryStream Out;
    TVexUUProcessor Uu(nullptr);
    Uu.Method = Method;
    Uu.InputStream = &In;
    Uu.OutputStream = &Out;
    Uu.Decode();
    EXPECT_LE(In.Position(), In.Size());
    if (Method == uuCode) {
        EXPECT_EQ(In.Position(), In.Size());
    }
    return Out.DataString();
}

std::string WithCrLf(std::string_view Text) {
    std::string Result;
    for (char C : Text) {
        if (C == '\n') Result += '\r';
        Result += C;
    }
    return Result;
}

std::string RandomBytes(std::mt19937& Gen, int N) {
    std::uniform_int_distribution<int> Byte(0, 255);
    std::string Data;
    for (int I = 0; I < N; ++I) Data += static_cast<char>(Byte(Gen));
    return Data;
}

// Lengths around the 3-byte group and the 45-byte line, then random ones.
std::vector<int> TestLengths(std::mt19937& Gen) {
    std::vector<int> Lengths = {0, 1, 2, 3, 4, 44, 45, 46, 89, 90, 91, 135, 136, 500};
    std::uniform_int_distribution<int> Length(0, 500);
    for (int I = 0; I < 100; ++I) Lengths.push_back(Length(Gen));
    return Lengths;
}

struct TCodecCase {
    UUMethods Method;
    std::string Input;
    std::string Expected;
};

// The encoded text of coreutils' base64 for Data; false when the tool cannot be run.
bool CoreutilsBase64(const std::string& Data, const std::string& Options, std::string& Text) {
    struct TTempFile {
        char Path[32] = "/tmp/vindral-codec-XXXXXX";
        int Fd = mkstemp(Path);
        ~TTempFile() {
            if (Fd >= 0) {
                close(Fd);
                unlink(Path);
            }
        }
    } File;
    if (File.Fd < 0) return false;
    if (write(File.Fd, Data.data(), Data.size()) != static_cast<ssize_t>(Data.size())) return false;
    FILE* Pipe = popen(("base64 " + Options + " " + File.Path + " 2>/dev/null").c_str(), "r");
    if (!Pipe) return false;
    Text.clear();
    char Buffer[4096];
    for (size_t N; (N = fread(Buffer, 1, sizeof Buffer, Pipe)) > 0;) Text.append(Buffer, N);
    return pclose(Pipe) == 0;
}

// Python pads the last group of a line; ours stops at the characters the announced bytes need.
std::string WithoutUuPadding(std::string_view Text) {
    std::string Result;
    size_t Start = 0;
    while (Start < Text.size()) {
        const size_t End = Text.find('\n', Start);
        const std::string_view Line = Text.substr(Start, End - Start);
        const size_t N = static_cast<size_t>(TVexUUProcessor::UuDEC(Line[0]));
        Result.append(Line.substr(0, 1 + (4 * N + 2) / 3));
        Result += '\n';
        Start = End + 1;
    }
    return Result;
}

} // namespace

TEST(TVexUUProcessor, EncodesLinesOf45BytesEachEndedByCrLfAndPadsOnlyBase64) {
    const std::string Aaa = "YWFh";
    const std::string Uaaa = "86%A";
    std::string Base64Line, UuLine = "M";
    for (int I = 0; I < 15; ++I) Base64Line += Aaa, UuLine += Uaaa;
    const std::vector<TCodecCase> Cases = {
        {uuMime, "", ""},
        {uuMime, "ABC", "QUJD\r\n"},
        {uuMime, "AB", "QUI=\r\n"},
        {uuMime, "A", "QQ==\r\n"},
        {uuMime, std::string(45, 'a'), Base64Line + "\r\n"},
        {uuMime, std::string(46, 'a'), Base64Line + "\r\nYQ==\r\n"},
        {uuCode, "", "`\r\n"},
        {uuCode, "ABC", "#04)#\r\n`\r\n"},
        {uuCode, "AB", "\"04(\r\n`\r\n"},
        {uuCode, "A", "!00\r\n`\r\n"},
        {uuCode, std::string(3, '\0'), "#````\r\n`\r\n"},
        {uuCode, std::string(46, 'a'), UuLine + "\r\n!80\r\n`\r\n"},
    };
    for (const auto& C : Cases) EXPECT_EQ(Encoded(C.Method, C.Input), C.Expected) << C.Input;
}

TEST(TVexUUProcessor, Base64MatchesTheRfc4648Vectors) {
    const std::vector<std::pair<std::string, std::string>> Vectors = {
        {"", ""},
        {"f", "Zg=="},
        {"fo", "Zm8="},
        {"foo", "Zm9v"},
        {"foob", "Zm9vYg=="},
        {"fooba", "Zm9vYmE="},
        {"foobar", "Zm9vYmFy"},
    };
    for (const auto& [Data, Text] : Vectors) {
        const std::string Lines = Text.empty() ? "" : Text + "\r\n";
        EXPECT_EQ(Encoded(uuMime, Data), Lines);
        EXPECT_EQ(Decoded(uuMime, Lines), Data);
    }
}

TEST(TVexUUProcessor, Base64AgreesWithCoreutils) {
    std::string Probe;
    if (!CoreutilsBase64("x", "-w 60", Probe)) GTEST_SKIP() << "coreutils' base64 cannot be run";
    std::mt19937 Gen(4648);
    for (int N : TestLengths(Gen)) {
        const std::string Data = RandomBytes(Gen, N);
        std::string Wrapped, Unbroken;
        ASSERT_TRUE(CoreutilsBase64(Data, "-w 60", Wrapped));
        ASSERT_TRUE(CoreutilsBase64(Data, "-w 0", Unbroken));
        EXPECT_EQ(Encoded(uuMime, Data), WithCrLf(Wrapped)) << N;
        EXPECT_EQ(Decoded(uuMime, WithCrLf(Wrapped)), Data) << N;
        // Lines ended by a bare LF keep their last character.
        EXPECT_EQ(Decoded(uuMime, Wrapped), Data) << N;
        // One line without a line end, longer than 200 characters from 151 bytes on.
        EXPECT_EQ(Decoded(uuMime, Unbroken), Data) << N;
    }
}

TEST(TVexUUProcessor, UuMatchesPythonsBinascii) {
    for (const TUuVector& V : UuVectors) {
        const std::string Data(V.Data);
        EXPECT_EQ(Decoded(uuCode, std::string(V.Encoded)), Data) << Data.size();
        EXPECT_EQ(Decoded(uuCode, WithCrLf(V.Encoded)), Data) << Data.size();
        EXPECT_EQ(Encoded(uuCode, Data), WithCrLf(WithoutUuPadding(V.Encoded))) << Data.size();
    }
}

TEST(TVexUUProcessor, DecodeUndoesEncodeInBothMethods) {
    std::mt19937 Gen(2045);
    for (int N : TestLengths(Gen)) {
        const std::string Data = RandomBytes(Gen, N);
        EXPECT_EQ(Decoded(uuMime, Encoded(uuMime, Data)), Data) << N;
        EXPECT_EQ(Decoded(uuCode, Encoded(uuCode, Data)), Data) << N;
    }
}

TEST(TVexUUProcessor, Base64DecodesLineByLineWithItsSkippingAndStoppingRules) {
    const std::string QujdTimes75 = [] {
        std::string S;
        for (int I = 0; I < 75; ++I) S += "QUJD";
        return S;
    }();
    const std::string AbcTimes75 = [] {
        std::string S;
        for (int I = 0; I < 75; ++I) S += "ABC";
        return S;
    }();
    const std::vector<TCodecCase> Cases = {
        {uuMime, "", ""},
        {uuMime, "QUJD\r\n", "ABC"},
        {uuMime, "QUI=\r\n", "AB"},
        {uuMime, "QQ==\r\n", "A"},
        {uuMime, "QQ==\r\nQUJD\r\n", "A"},
        {uuMime, "====\r\nQUJD\r\n", "ABC"},
        {uuMime, "=QUJD\r\nQUJD\r\n", ""},
        {uuMime, "**QUJD\r\n", "ABC"},
        // A CR among the leading foreign characters ends decoding.
        {uuMime, "**\rQUJD\r\nQUJD\r\n", ""},
        // Lines of up to two characters, the empty line included, are passed over.
        {uuMime, "\r\nQU\r\n\nQUJD\r\n", "ABC"},
        // Text after padding on the same line is not decoded, nor are later lines.
        {uuMime, "QQ==QUJD\r\nQUJD\r\n", "A"},
        {uuMime, "QUJD=QUJD\r\nQUJD\r\n", "ABC"},
        // Foreign characters between groups are skipped; inside a group they count as 0.
        {uuMime, "QU JD\r\n", "A@\t"},
        {uuMime, "QUJD QUJD\r\n", "ABCABC"},
        {uuMime, "Q*JD\r\n",
         "@\x02"
         "C"},
        {uuMime, std::string("QU\0D\r\n", 6), "A@\x03"},
        // A group cut by the line end yields its first byte only.
        {uuMime, "QUJDQUJ\r\n", "ABCA"},
        {uuMime, "QUJDQ\r\n", "ABC"},
        // Last line without a line end, and a lone CR at the very end.
        {uuMime, "QUJD\r\nQUI=", "ABCAB"},
        {uuMime, "QUJD\r\n\r", "ABC"},
        // Over 200 bytes without a line feed: read in pieces of 200.
        {uuMime, QujdTimes75 + "\r\n", AbcTimes75},
        {uuMime, std::string(250, '*') + "\r\nQUJD\r\n", "ABC"},
    };
    for (const auto& C : Cases) EXPECT_EQ(Decoded(C.Method, C.Input), C.Expected) << C.Input;
}

TEST(TVexUUProcessor, UuDecodesLineByLineTrustingTheLengthCharacter) {
    const std::vector<TCodecCase> Cases = {
        {uuCode, "", ""},
        {uuCode, "#04)#\r\n`\r\n", "ABC"},
        {uuCode, "!00\r\n`\r\n", "A"},
        // Space and backquote both stand for 0.
        {uuCode, "#    \r\n", std::string(3, '\0')},
        {uuCode, "#04)#\n`\n", "ABC"},
        {uuCode, "#04)#", "ABC"},
        // A zero-length line drops the line after it.
        {uuCode, "` x\r\n!00\r\n#04)#\r\n", "ABC"},
        {uuCode, "` x\r\n", ""},
        // Lines of up to two characters are passed over.
        {uuCode, "!0\r\n`\r\n\r\n#04)#\r\n", "ABC"},
        // Characters missing from a short line count as 0; the line still gives what it announced.
        {uuCode, "#04\r\n", std::string("A@\0", 3)},
        {uuCode, "MQQ\r\n", std::string("\xC7\x10", 2) + std::string(43, '\0')},
        // Characters past the announced bytes are ignored.
        {uuCode, "!00``junk\r\n", "A"},
    };
    for (const auto& C : Cases) EXPECT_EQ(Decoded(C.Method, C.Input), C.Expected) << C.Input;
}

// Decoding works line by line: whatever text follows an encoded body, the decoders end (Decoded checks
// where they leave the input), the body comes out whole in front, and the text after it decodes as it
// would on its own (after padding, Base64 decodes nothing more; after the closing line, uudecoding drops
// one line). Four characters never give more than three bytes, nor a uuencoded line more than 63.
TEST(TVexUUProcessor, DecodersEndOnAnyInputAndKeepTheBodyBeforeIt) {
    // Pieces that steer the decoders into their rarer paths, mixed with random bytes and long lines.
    const std::vector<std::string> Pieces = {"\r\n", "\n",   "\r",    "=",  "====", "`",
                                             "M",    "QUJD", "#04)#", "**", " ",    std::string(1, '\0'),
                                             "\xFF", "QQ=",  "~"};
    std::mt19937 Gen(1421);
    std::uniform_int_distribution<size_t> Pick(0, Pieces.size() + 1);
    std::uniform_int_distribution<int> Count(0, 60);
    std::uniform_int_distribution<int> LongLength(150, 450);
    std::uniform_int_distribution<int> BodyLength(0, 100);
    for (int Round = 0; Round < 300; ++Round) {
        std::string Text;
        for (int I = Count(Gen); I > 0; --I) {
            const size_t K = Pick(Gen);
            if (K < Pieces.size())
                Text += Pieces[K];
            else if (K == Pieces.size())
                Text += RandomBytes(Gen, 5);
            else
                Text += std::string(static_cast<size_t>(LongLength(Gen)), "MQ*"[Round % 3]);
        }
        const std::string Body = RandomBytes(Gen, BodyLength(Gen));
        SCOPED_TRACE("round " + std::to_string(Round) + ", body of " + std::to_string(Body.size()) +
                     " bytes");

        const std::string Mime = Decoded(uuMime, Text);
        EXPECT_LE(Mime.size(), Text.size() * 3 / 4);
        const bool Padded = Body.size() % 3 != 0;
        EXPECT_EQ(Decoded(uuMime, Encoded(uuMime, Body) + Text), Body + (Padded ? "" : Mime));

        EXPECT_LE(Decoded(uuCode, Text).size(), Text.size() / 3 * 63);
        EXPECT_EQ(Decoded(uuCode, Encoded(uuCode, Body) + Text), Body + Decoded(uuCode, "`\r\n" + Text));
    }
}

TEST(TVexUUProcessor, EncodeRewindsBothStreamsAndAppendsAtTheOutputPosition) {
    TMemoryStream In = StreamOf("ABCABC");
    In.SetPosition(4);
    TMemoryStream Out = StreamOf("head:");
    Out.SetPosition(Out.Size());
    TVexUUProcessor Uu(nullptr);
    Uu.InputStream = &In;
    Uu.OutputStream = &Out;
    Uu.Encode();
    EXPECT_EQ(Out.DataString(), "head:QUJDQUJD\r\n");
    EXPECT_EQ(Out.Position(), 0);
    EXPECT_EQ(In.Position(), In.Size());
}

TEST(TVexUUProcessor, DecodeWorksFromTheCurrentPositionsAndLeavesThemWhereItEnds) {
    TMemoryStream In = StreamOf("QQ==\r\nQUJD\r\n");
    In.SetPosition(6);
    TMemoryStream Out = StreamOf("x");
    Out.SetPosition(1);
    TVexUUProcessor Uu(nullptr);
    Uu.InputStream = &In;
    Uu.OutputStream = &Out;
    Uu.Decode();
    EXPECT_EQ(Out.DataString(), "xABC");
    EXPECT_EQ(Out.Position(), 4);
    EXPECT_EQ(In.Position(), In.Size());
}

TEST(TVexUUProcessor, ReadLnFromStreamTakesOneLineAndAlwaysMovesOn) {
    struct TLineCase {
        std::string Text;
        std::string Line;
        int64_t Position;
    };
    const std::vector<TLineCase> Cases = {
        {"ab\r\ncd", "ab", 4},
        {"\r\nx", "", 2},
        {"\nx", "", 1},
        {"ab\ncd", "ab", 3},
        {"a\r\r\n", "a\r", 4},
        {"abc", "abc", 3},
        {std::string(199, 'x') + "\n", std::string(199, 'x'), 200},
        {std::string(200, 'x') + "\n", std::string(200, 'x'), 200},
        {std::string(300, 'x'), std::string(200, 'x'), 200},
    };
    TVexUUProcessor Uu(nullptr);
    for (const auto& C : Cases) {
        TMemoryStream S = StreamOf(C.Text);
        std::string Line = "old";
        Uu.ReadLnFromStream(S, Line);
        EXPECT_EQ(Line, C.Line) << C.Text;
        EXPECT_EQ(S.Position(), C.Position) << C.Text;
    }
}

namespace {

// A stream that takes no bytes, so that every whole-buffer write fails.
class TFullStream : public TMemoryStream {
public:
    int64_t Write(const void*, int64_t) override { return 0; }
};

} // namespace

TEST(TVexUUProcessor, EventsFireAroundEachRunAndEncodeClosesAlsoWhenAWriteFails) {
    TMemoryStream In = StreamOf("QUJD\r\n");
    TMemoryStream Out;
    TVexUUProcessor Uu(nullptr);
    Uu.InputStream = &In;
    Uu.OutputStream = &Out;
    std::vector<std::string> Seen;
    auto Record = [&Seen, &Uu](const char* Name) {
        return [&Seen, &Uu, Name](TComponent* Sender) {
            EXPECT_EQ(Sender, &Uu);
            Seen.push_back(Name);
        };
    };
    Uu.OnBeginEncode = Record("BeginEncode");
    Uu.OnEndEncode = Record("EndEncode");
    Uu.OnBeginDecode = Record("BeginDecode");
    Uu.OnEndDecode = Record("EndDecode");

    Uu.Decode();
    Uu.Encode();
    EXPECT_EQ(Seen, (std::vector<std::string>{"BeginDecode", "EndDecode", "BeginEncode", "EndEncode"}));

    TFullStream Full;
    Uu.OutputStream = &Full;
    Seen.clear();
    EXPECT_THROW(Uu.Encode(), EStreamWriteError);
    EXPECT_EQ(Seen, (std::vector<std::string>{"BeginEncode", "EndEncode"}));
    EXPECT_EQ(Full.Position(), 0);

    In.SetPosition(0);
    Seen.clear();
    EXPECT_THROW(Uu.Decode(), EStreamWriteError);
    EXPECT_EQ(Seen, (std::vector<std::string>{"BeginDecode"}));

    // Without streams nothing runs and nothing fires.
    Seen.clear();
    Uu.OutputStream = nullptr;
    EXPECT_THROW(Uu.Encode(), EStreamError);
    EXPECT_THROW(Uu.Decode(), EStreamError);
    EXPECT_TRUE(Seen.empty());
}
