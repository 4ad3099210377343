#include "TVexUUProcessor.h"

#include "framework/Exceptions.h"

#include <cstring>

namespace {

constexpr int64_t BlockSize = 45;
constexpr int64_t MaxLineRead = 200;

bool InMimeAlphabet(char C) {
    return (C >= 'A' && C <= 'Z') || (C >= 'a' && C <= 'z') || (C >= '0' && C <= '9') || C == '+' || C == '/';
}

int Base64Value(char C) {
    if (C < '+' || C > 'z') return 127;
    return TVexUUProcessor::base64Table[C - '+'];
}

// A non-alphabet character inside a group ("=" in second place, a blank, a control byte) contributes
// nothing rather than the table's 64 or 127, whose bits would spill into the decoded bytes.
int GroupValue(char C) {
    return InMimeAlphabet(C) ? Base64Value(C) : 0;
}

void WriteText(TStream& Stream, const std::string& Text) {
    Stream.WriteBuffer(Text.data(), static_cast<int64_t>(Text.size()));
}

// Decodes one Base64 line into Out; true when decoding ends with this line.
bool DecodeBase64Line(const std::string& Line, std::string& Out) {
    const size_t Len = Line.size();
    if (Len <= 2 || Line.compare(0, 4, "====") == 0) return false;
    const size_t Last = Len - 1;
    size_t I = 0;
    while (I < Last && !InMimeAlphabet(Line[I])) {
        if (Line[I] == '\r' || Line[I] == '\n' || Line[I] == '=') return true;
        ++I;
    }
    if (I == Last) return false;
    while (I < Last) {
        const char X1 = Line[I];
        const int Y1 = Base64Value(X1);
        if (Y1 == 127) {
            ++I;
            continue;
        }
        // Padding where a group would begin: the data is over, and whatever follows on the line is not
        // decoded (the same holds after any padding below).
        if (X1 == '=') return true;
        // X2 exists, since I lies before the last character.
        const int Y2 = GroupValue(Line[I + 1]);
        Out += static_cast<char>(((Y1 << 2) | (Y2 >> 4)) & 255);
        if (I + 2 < Len && Line[I + 2] == '=') return true;
        if (I + 3 >= Len) return false;
        const int Y3 = GroupValue(Line[I + 2]);
        Out += static_cast<char>(((Y2 << 4) | (Y3 >> 2)) & 255);
        if (Line[I + 3] == '=') return true;
        const int Y4 = GroupValue(Line[I + 3]);
        Out += static_cast<char>(((Y3 << 6) | Y4) & 255);
        I += 4;
    }
    return false;
}

// Decodes one uuencoded line whose length character announced N > 0 bytes. Characters missing from a
// short line count as 0, the value of the blank that senders used to strip from line ends, so the line
// still yields the N bytes it announced and nothing past the line is read.
void DecodeUuLine(const std::string& Line, int N, std::string& Out) {
    auto At = [&Line](size_t K) { return K < Line.size() ? TVexUUProcessor::UuDEC(Line[K]) : 0; };
    for (size_t P = 1; N > 0; N -= 3, P += 4) {
        const int U1 = At(P), U2 = At(P + 1), U3 = At(P + 2), U4 = At(P + 3);
        Out += static_cast<char>(((U1 << 2) | (U2 >> 4)) & 255);
        if (N >= 2) Out += static_cast<char>(((U2 << 4) | (U3 >> 2)) & 255);
        if (N >= 3) Out += static_cast<char>(((U3 << 6) | U4) & 255);
    }
}

} // namespace

TVexUUProcessor::TVexUUProcessor(TComponent* AOwner) : TComponent(AOwner) {
    SetEncodeTable();
}

void TVexUUProcessor::CheckStreams() const {
    if (!InputStream || !OutputStream) throw EStreamError("Stream not assigned");
}

void TVexUUProcessor::SetEncodeTable() {
    const char* Source = Method == uuCode ? UUTABLE : MimeTable;
    std::memcpy(FEncodeTable.data(), Source, FEncodeTable.size());
}

void TVexUUProcessor::Encode() {
    CheckStreams();
    InputStream->SetPosition(0);
    if (OnBeginEncode) OnBeginEncode(this);
    try {
        EncodeBlocks();
    } catch (...) {
        FinishEncode();
        throw;
    }
    FinishEncode();
}

void TVexUUProcessor::FinishEncode() {
    OutputStream->SetPosition(0);
    if (OnEndEncode) OnEndEncode(this);
}

void TVexUUProcessor::EncodeBlocks() {
    SetEncodeTable();
    const char* T = FEncodeTable.data();
    TStream& In = *InputStream;
    unsigned char Block[BlockSize];
    while (In.Position() < In.Size()) {
        const int64_t N = In.Read(Block, BlockSize);
        // A stream that yields nothing before its announced end would otherwise keep us here forever.
        if (N <= 0) break;
        std::string Line;
        if (Method == uuCode) Line += T[N & 63];
        int64_t I = 0;
        for (; I + 3 <= N; I += 3) {
            const unsigned B0 = Block[I], B1 = Block[I + 1], B2 = Block[I + 2];
            Line += T[B0 >> 2];
            Line += T[((B0 << 4) | (B1 >> 4)) & 63];
            Line += T[((B1 << 2) | (B2 >> 6)) & 63];
            Line += T[B2 & 63];
        }
        // uuencode pads nothing: the length character says how many bytes the line holds.
        if (N - I == 1) {
            const unsigned B0 = Block[I];
            Line += T[B0 >> 2];
            Line += T[(B0 << 4) & 48];
            if (Method == uuMime) Line += "==";
        } else if (N - I == 2) {
            const unsigned B0 = Block[I], B1 = Block[I + 1];
            Line += T[B0 >> 2];
            Line += T[((B0 << 4) & 48) | (B1 >> 4)];
            Line += T[(B1 << 2) & 60];
            if (Method == uuMime) Line += '=';
        }
        Line += "\r\n";
        WriteText(*OutputStream, Line);
    }
    if (Method == uuCode) WriteText(*OutputStream, std::string{T[0], '\r', '\n'});
}

void TVexUUProcessor::Decode() {
    CheckStreams();
    if (OnBeginDecode) OnBeginDecode(this);
    if (Method == uuMime)
        Base64Decode();
    else if (Method == uuCode)
        StdDecode();
    if (OnEndDecode) OnEndDecode(this);
}

// Lines end with LF; a CR in front of it belongs to the line end. When no LF lies within the 200 bytes
// read (a longer line, or a last line without a line end), all of them are the line and the position
// moves on by as many: it always advances while bytes remain and never passes the size. A long line thus
// comes back in pieces of 200 bytes; for Base64, whose groups are 4 characters, these split between
// groups, so an unbroken Base64 text of any length still decodes whole.
void TVexUUProcessor::ReadLnFromStream(TStream& Stream, std::string& Line) {
    const int64_t Start = Stream.Position();
    char Buffer[MaxLineRead];
    int64_t N = Stream.Read(Buffer, MaxLineRead);
    if (N < 0) N = 0;
    const auto* Lf = static_cast<const char*>(std::memchr(Buffer, '\n', static_cast<size_t>(N)));
    if (!Lf) {
        Line.assign(Buffer, static_cast<size_t>(N));
        Stream.SetPosition(Start + N);
        return;
    }
    const auto LfIndex = static_cast<size_t>(Lf - Buffer);
    // Only a CR is dropped: a line ended by a bare LF keeps its last character.
    const size_t Len = (LfIndex > 0 && Buffer[LfIndex - 1] == '\r') ? LfIndex - 1 : LfIndex;
    Line.assign(Buffer, Len);
    Stream.SetPosition(Start + static_cast<int64_t>(LfIndex) + 1);
}

void TVexUUProcessor::Base64Decode() {
    TStream& In = *InputStream;
    std::string Line;
    std::string Bytes;
    bool Ended = false;
    while (!Ended && In.Position() < In.Size()) {
        const int64_t Before = In.Position();
        ReadLnFromStream(In, Line);
        if (In.Position() <= Before) break;
        Bytes.clear();
        Ended = DecodeBase64Line(Line, Bytes);
        WriteText(*OutputStream, Bytes);
    }
}

void TVexUUProcessor::StdDecode() {
    TStream& In = *InputStream;
    std::string Line;
    std::string Bytes;
    while (In.Position() < In.Size()) {
        const int64_t Before = In.Position();
        ReadLnFromStream(In, Line);
        if (In.Position() <= Before) break;
        if (Line.size() <= 2) continue;
        const int N = UuDEC(Line[0]);
        if (N == 0) {
            // A zero-length line closes the body; the line after it (the trailer) is dropped unread.
            if (In.Position() < In.Size()) ReadLnFromStream(In, Line);
            continue;
        }
        Bytes.clear();
        DecodeUuLine(Line, N, Bytes);
        WriteText(*OutputStream, Bytes);
    }
}
