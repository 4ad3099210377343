// Response reading: the status and header lines, the three fields taken from them, and the body.
#include "TVexHTTP.h"

#include "framework/TFileStream.h"
#include "framework/TextHelpers.h"
#include "net/TTimeoutScope.h"
#include "net/WordHelpers.h"

#include <algorithm>
#include <cstdint>
#include <optional>

namespace {

const char* const HeaderCutText = "Connection closed before the response header ended";

std::string WithoutLineEnd(const std::string& Line) {
    size_t End = Line.size();
    if (End > 0 && Line[End - 1] == '\n') --End;
    if (End > 0 && Line[End - 1] == '\r') --End;
    return Line.substr(0, End);
}

bool IsHeaderEnd(const std::string& Line) {
    return Line == "\n" || Line == "\r\n";
}

bool IsDigit(char C) {
    return C >= '0' && C <= '9';
}

// The described reading of a Content-Length value: skip what is not a digit, take the digits that
// follow. A number beyond 32 bits gives 0, "unknown", instead of a wrapped or negative total.
int32_t TransferTotalOf(const std::string& Value) {
    size_t Pos = 0;
    while (Pos < Value.size() && !IsDigit(Value[Pos])) ++Pos;
    int64_t Total = 0;
    for (; Pos < Value.size() && IsDigit(Value[Pos]); ++Pos) {
        Total = Total * 10 + (Value[Pos] - '0');
        if (Total > INT32_MAX) return 0;
    }
    return static_cast<int32_t>(Total);
}

// The body length a Content-Length value announces, when the value is a plain decimal number (blanks
// around it allowed); nullopt for anything else ("12ab", "-5", "", more than 18 digits), so that a
// doubtful length never cuts a body short.
std::optional<int64_t> BodyLengthOf(const std::string& Value) {
    size_t Pos = 0;
    auto IsBlank = [&](size_t P) { return Value[P] == ' ' || Value[P] == '\t'; };
    while (Pos < Value.size() && IsBlank(Pos)) ++Pos;
    size_t First = Pos;
    int64_t Length = 0;
    for (; Pos < Value.size() && IsDigit(Value[Pos]); ++Pos) {
        if (Pos - First >= 18) return std::nullopt;
        Length = Length * 10 + (Value[Pos] - '0');
    }
    if (Pos == First) return std::nullopt;
    while (Pos < Value.size() && IsBlank(Pos)) ++Pos;
    if (Pos != Value.size()) return std::nullopt;
    return Length;
}

} // namespace

void TVexHTTP::RemoveHeader() {
    // The header is one operation under one time-out: a peer that drips it, each line within the
    // time-out, must not hold the command for ever.
    TTimeoutScope Timeout(*this);
    TransferTotal = 0;
    ReceivedCookie.clear();
    // A response names its own redirect target or none: a target kept from an earlier response (another
    // peer's) must never be followed.
    Location.clear();
    ContentLength = -1;
    bool LengthTrusted = true;

    std::optional<TFileStream> HeaderFile;
    if (OutputFileMode)
        HeaderFile.emplace(Header, TFileMode::Create);
    else
        Header.clear();
    auto Store = [&](const std::string& Line) {
        if (HeaderFile)
            HeaderFile->WriteBuffer(Line.data(), static_cast<int64_t>(Line.size()));
        else
            Header += Line;
    };

    int64_t HeaderBytes = 0;
    // A header that the peer cuts short by closing is no response, however much of it came: the body
    // and the status would be taken from a transfer that failed. One that never ends is cut here, long
    // before the memory (or the disk) it would fill.
    auto NextLine = [&] {
        std::string Next = ReadLn();
        if (Next.empty()) throw ESockError(HeaderCutText);
        HeaderBytes += static_cast<int64_t>(Next.size());
        if (HeaderBytes > MaxHeaderBytes)
            throw ERangeError("Response header longer than " + std::to_string(MaxHeaderBytes) + " bytes");
        return Next;
    };

    std::string Line = NextLine();
    // The status is read without the line end, so "HTTP/1.0 404\r\n" is 404, not "no status"; a number
    // that does not fit the 16-bit status is no status either, never a wrapped one.
    const int32_t Code = StrToIntDef(NthWord(WithoutLineEnd(Line), ' ', 2), 0);
    ReplyCode = static_cast<int16_t>(Code >= INT16_MIN && Code <= INT16_MAX ? Code : 0);
    Store(Line);

    do {
        Line = NextLine();
        const std::string Upper = UpperCase(Line);
        const std::string Name = NthWord(Upper, ' ', 1);
        if (Name == "SET-COOKIE:") {
            ReceivedCookie = WithoutLineEnd(Line.substr(12));
        } else if (Name == "LOCATION:") {
            Location = WithoutLineEnd(Line.substr(10));
        } else if (Name == "CONTENT-LENGTH:") {
            const std::string Value = WithoutLineEnd(Line.substr(Upper.find("ENGTH:") + 7));
            TransferTotal = TransferTotalOf(Value);
            // A length that cannot be read, or two lines that disagree, is no length at all.
            const std::optional<int64_t> Length = BodyLengthOf(Value);
            if (!Length || (ContentLength >= 0 && *Length != ContentLength))
                LengthTrusted = false;
            else
                ContentLength = *Length;
        }
        Store(Line);
    } while (!IsHeaderEnd(Line));

    if (!LengthTrusted) ContentLength = -1;
}

bool TVexHTTP::ResponseHasBody() const {
    const int S = ReplyCode;
    return CurrentCmd != CmdType::CmdHEAD && !(S >= 100 && S <= 199) && S != 204 && S != 304;
}

void TVexHTTP::ReceiveBody() {
    const auto TooLong = [this] {
        return ERangeError("Response body longer than " + std::to_string(MaxBodySize) + " bytes");
    };
    const int64_t Length = ResponseHasBody() ? ContentLength : 0;
    if (Length > MaxBodySize) {
        // Refused before a byte of it is read; its place is emptied as for any other response.
        if (InputFileMode)
            TFileStream(Body, TFileMode::Create);
        else
            Body.clear();
        throw TooLong();
    }
    if (Length >= 0) {
        if (InputFileMode) {
            CaptureFileCount(Body, Length);
        } else {
            Body.clear();
            CaptureStringCount(Body, Length);
        }
        return;
    }

    // No announced length: the body is whatever arrives until the peer closes, but the capture stops one
    // byte past the limit, which tells a body of the limit's length from a longer one.
    const int64_t Cap = int64_t{MaxBodySize} + 1;
    int64_t Held = 0;
    if (InputFileMode) {
        CaptureFile(Body, Cap);
        // The 32-bit count wraps past 2 GB; read unsigned it holds any cap a 32-bit limit allows.
        Held = static_cast<uint32_t>(ReceivedCount);
    } else {
        CaptureString(Body, static_cast<int32_t>(std::min<int64_t>(Cap, INT32_MAX)));
        Held = static_cast<int64_t>(Body.size());
    }
    if (Held > MaxBodySize) {
        if (!InputFileMode) std::string().swap(Body);
        throw TooLong();
    }
}
