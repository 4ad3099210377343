#include "app/SettingsFile.h"

#include "framework/Exceptions.h"
#include "framework/TFileStream.h"
#include "framework/TextHelpers.h"
#include "platform/AtomicFile.h"

namespace {

constexpr const char* LineEnd = "\r\n";

// Reads the whole file; false when it cannot be opened.
bool ReadWholeFile(const std::string& FileName, std::string& Bytes) {
    try {
        TFileStream Stream(FileName, TFileMode::OpenRead);
        char Buffer[65536];
        for (;;) {
            int64_t N = Stream.Read(Buffer, sizeof Buffer);
            if (N <= 0) break;
            Bytes.append(Buffer, static_cast<size_t>(N));
        }
        return true;
    } catch (const EStreamError&) {
        return false;
    }
}

// Hands out the lines of a file in order; Next is false at the end of the file.
class TLineReader {
public:
    explicit TLineReader(std::vector<std::string> Lines) : FLines(std::move(Lines)) {}
    bool Next(std::string& Line) {
        if (FIndex >= FLines.size()) return false;
        Line = std::move(FLines[FIndex++]);
        return true;
    }

private:
    std::vector<std::string> FLines;
    size_t FIndex = 0;
};

void AppendListLines(std::string& Out, const TMemo& Memo) {
    const int Count = Memo.LineCount();
    Out += std::to_string(Count) + LineEnd;
    for (int I = 0; I < Count; ++I) Out += Trim(Memo.Line(I)) + LineEnd;
}

} // namespace

std::vector<std::string> SplitSettingsLines(const std::string& Bytes) {
    std::vector<std::string> Lines;
    size_t Start = 0;
    while (Start < Bytes.size()) {
        size_t End = Bytes.find('\n', Start);
        if (End == std::string::npos) {
            Lines.push_back(Bytes.substr(Start));
            break;
        }
        size_t Length = End - Start;
        if (Length > 0 && Bytes[End - 1] == '\r') --Length;
        Lines.push_back(Bytes.substr(Start, Length));
        Start = End + 1;
    }
    return Lines;
}

void LoadSettingsFile(const std::string& FileName, TMemo& Memo2, TEdit& Edit1, TEdit& Edit2, TMemo& Memo1) {
    std::string Bytes;
    if (!ReadWholeFile(FileName, Bytes)) return;
    TLineReader Reader(SplitSettingsLines(Bytes));
    std::string Line;

    if (!Reader.Next(Line)) return;
    const int TargetCount = StrToIntDef(Line, 0);
    for (int I = 0; I < TargetCount; ++I) {
        if (!Reader.Next(Line)) return;
        Memo2.AppendLine(Line);
    }
    if (!Reader.Next(Line)) return;
    Edit1.SetText(Line);
    if (!Reader.Next(Line)) return;
    Edit2.SetText(Line);
    if (!Reader.Next(Line)) return;
    const int ProxyCount = StrToIntDef(Line, 0);
    for (int I = 0; I < ProxyCount; ++I) {
        if (!Reader.Next(Line)) return;
        Memo1.AppendLine(Line);
    }
}

std::string FormatSettingsFile(const TMemo& Memo2, const TEdit& Edit1, const TEdit& Edit2,
                               const TMemo& Memo1) {
    std::string Out;
    AppendListLines(Out, Memo2);
    Out += Edit1.Text() + LineEnd;
    Out += Edit2.Text() + LineEnd;
    AppendListLines(Out, Memo1);
    return Out;
}

bool WriteFileAtomically(const std::string& FileName, const std::string& Bytes) {
    return platform::ReplaceFileAtomically(FileName, Bytes);
}
