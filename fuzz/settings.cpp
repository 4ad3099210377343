// Loading the settings file from bytes on disk into in-memory controls: what lands in each control
// follows the line layout, and a file saved from what was loaded loads back to the same file.
#include "FuzzCheck.h"
#include "app/MemoryControls.h"
#include "app/SettingsFile.h"
#include "framework/TextHelpers.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

// One scratch folder for the process, removed at exit.
const std::string& ScratchFile() {
    static const std::string Name = [] {
        std::string Dir =
            (std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp") + std::string("/vindral-fuzz-XXXXXX");
        if (!::mkdtemp(Dir.data())) std::abort();
        static std::string Removed = Dir;
        std::atexit([] {
            std::remove((Removed + "/qelto.ini").c_str());
            ::rmdir(Removed.c_str());
        });
        return Dir + "/qelto.ini";
    }();
    return Name;
}

void WriteFile(const std::string& Bytes) {
    std::FILE* File = std::fopen(ScratchFile().c_str(), "wb");
    if (!File) std::abort();
    if (!Bytes.empty() && std::fwrite(Bytes.data(), 1, Bytes.size(), File) != Bytes.size()) std::abort();
    if (std::fclose(File) != 0) std::abort();
}

struct State {
    TMemoryMemo Memo2{std::vector<std::string>{"kept target"}};
    TMemoryEdit Edit1{"old from"};
    TMemoryEdit Edit2{"old max"};
    TMemoryMemo Memo1{std::vector<std::string>{"kept proxy"}};

    void Load(const std::string& Bytes) {
        WriteFile(Bytes);
        LoadSettingsFile(ScratchFile(), Memo2, Edit1, Edit2, Memo1);
    }
    std::string Format() const { return FormatSettingsFile(Memo2, Edit1, Edit2, Memo1); }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
    const std::string Bytes(reinterpret_cast<const char*>(Data), Size);
    State Loaded;
    Loaded.Load(Bytes);

    // The expected controls, read from the lines by the layout: lists are appended to, and whatever the
    // file is too short for stays as it was.
    const std::vector<std::string> Lines = SplitSettingsLines(Bytes);
    std::vector<std::string> Targets{"kept target"};
    std::vector<std::string> Proxies{"kept proxy"};
    std::string From = "old from";
    std::string Max = "old max";
    size_t Next = 0;
    [&] {
        if (Next == Lines.size()) return;
        for (int I = 0, N = StrToIntDef(Lines[Next++], 0); I < N; ++I) {
            if (Next == Lines.size()) return;
            Targets.push_back(Lines[Next++]);
        }
        if (Next == Lines.size()) return;
        From = Lines[Next++];
        if (Next == Lines.size()) return;
        Max = Lines[Next++];
        if (Next == Lines.size()) return;
        for (int I = 0, N = StrToIntDef(Lines[Next++], 0); I < N; ++I) {
            if (Next == Lines.size()) return;
            Proxies.push_back(Lines[Next++]);
        }
    }();
    FUZZ_CHECK(Loaded.Memo2.Lines() == Targets);
    FUZZ_CHECK(Loaded.Edit1.Text() == From);
    FUZZ_CHECK(Loaded.Edit2.Text() == Max);
    FUZZ_CHECK(Loaded.Memo1.Lines() == Proxies);

    // Saving what was loaded and loading that into the same starting state saves the same bytes again.
    const std::string Saved = Loaded.Format();
    State Again;
    Again.Memo2.Clear();
    Again.Memo1.Clear();
    Again.Load(Saved);
    FUZZ_CHECK(Again.Format() == Saved);
    return 0;
}
