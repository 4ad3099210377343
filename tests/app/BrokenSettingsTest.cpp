// Settings files broken the ways a crash, a disk or a hand breaks them: binary bytes, a file cut
// anywhere, impossible counts, huge lines, no line ends, zero bytes, lone carriage returns. Loading never
// crashes, holds no more memory than a small multiple of the file's size plus what the loaded lines take
// in the lists, and loads what the file holds as far as it can be read. SettingsFileTest holds the
// ordinary files and the counts -1, -2 and "two".
#include "app/SettingsFile.h"

#include "AppFixtures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <vector>

#if defined(__SANITIZE_ADDRESS__)
// The address sanitizer's allocation hooks (its runtime has them; the compiler ships no header).
extern "C" {
int __sanitizer_install_malloc_and_free_hooks(void (*MallocHook)(const volatile void*, size_t),
                                              void (*FreeHook)(const volatile void*));
size_t __sanitizer_get_allocated_size(const volatile void* Pointer);
}
#define VINDRAL_HEAP_HOOKS 1
#endif

namespace {

using Lines = std::vector<std::string>;

// The heap bytes allocated beyond those in use at Start, at their highest until Stop. The allocation
// hooks are process-wide by nature, so the counters are too; they count only between Start and Stop.
class THeapPeak {
public:
    static bool Measurable() {
#ifdef VINDRAL_HEAP_HOOKS
        static const bool Installed = __sanitizer_install_malloc_and_free_hooks(OnMalloc, OnFree) != 0;
        return Installed;
#else
        return false;
#endif
    }
    void Start() {
        State().InUse = 0;
        State().Peak = 0;
        State().Counting = true;
    }
    int64_t Stop() {
        State().Counting = false;
        return State().Peak;
    }

private:
    struct TCounters {
        std::atomic<bool> Counting{false};
        std::atomic<int64_t> InUse{0};
        std::atomic<int64_t> Peak{0};
    };
    static TCounters& State() {
        static TCounters Counters;
        return Counters;
    }
#ifdef VINDRAL_HEAP_HOOKS
    static void OnMalloc(const volatile void*, size_t Size) {
        TCounters& C = State();
        if (!C.Counting) return;
        const int64_t Now = C.InUse += static_cast<int64_t>(Size);
        int64_t Peak = C.Peak;
        while (Now > Peak && !C.Peak.compare_exchange_weak(Peak, Now)) {
        }
    }
    static void OnFree(const volatile void* Pointer) {
        TCounters& C = State();
        if (C.Counting && Pointer) C.InUse -= static_cast<int64_t>(__sanitizer_get_allocated_size(Pointer));
    }
#endif
};

// The lines of a file as the format defines them: a line feed ends a line, and a carriage return right
// before it goes with it; bytes after the last line feed are a last line.
Lines FileLines(const std::string& Bytes) {
    Lines Result;
    std::string Line;
    for (size_t I = 0; I < Bytes.size(); ++I) {
        if (Bytes[I] != '\n') {
            Line += Bytes[I];
            continue;
        }
        if (!Line.empty() && Line.back() == '\r') Line.pop_back();
        Result.push_back(std::move(Line));
        Line.clear();
    }
    if (!Line.empty()) Result.push_back(Line);
    return Result;
}

struct TLoaded {
    Lines Targets;
    std::string From;
    std::string Max;
    Lines Proxies;
    bool operator==(const TLoaded&) const = default;
};

void PrintTo(const TLoaded& State, std::ostream* Out) {
    *Out << State.Targets.size() << " targets, From " << testing::PrintToString(State.From.substr(0, 40))
         << ", Max " << testing::PrintToString(State.Max.substr(0, 40)) << ", " << State.Proxies.size()
         << " proxies";
}

class BrokenSettings : public FormFixture {
protected:
    // Writes Bytes as the settings file and shows the form, measuring the heap on the way.
    TLoaded Load(const std::string& Bytes) {
        WriteFileBytes(SettingsPath(), Bytes);
        Memo1.SetLines({"Memo1"});
        Memo2.SetLines({"Memo2"});
        Edit1.SetText("Edit1");
        Edit2.SetText("100");
        THeapPeak Heap;
        const bool Measured = THeapPeak::Measurable();
        if (Measured) Heap.Start();
        const auto Start = std::chrono::steady_clock::now();
        Form.FormShow(&Form);
        const auto Took = std::chrono::steady_clock::now() - Start;
        const int64_t Peak = Measured ? Heap.Stop() : 0;
        TLoaded State{Memo2.Lines(), Edit1.Text(), Edit2.Text(), Memo1.Lines()};

        // Memory: a few copies of the file at most, and for each list line the list's own entry.
        const int64_t Size = static_cast<int64_t>(Bytes.size());
        const int64_t ListLines = static_cast<int64_t>(State.Targets.size() + State.Proxies.size());
        if (Measured) {
            EXPECT_LE(Peak, 6 * Size + 160 * ListLines + 256 * 1024)
                << "file of " << Size << " bytes, " << ListLines << " list lines";
        }
        RecordProperty("load_ms",
                       std::to_string(std::chrono::duration_cast<std::chrono::milliseconds>(Took).count()));
        RecordProperty("peak_bytes", std::to_string(Peak));
        return State;
    }

    // Every loaded text is a line of the file, in the file's order and at its place: the target count,
    // the targets, From, Max, the proxy count, the proxies. A field the file does not reach keeps its
    // text.
    static void ExpectLinesOfTheFile(const TLoaded& State, const std::string& Bytes) {
        const Lines File = FileLines(Bytes);
        const size_t T = State.Targets.size();
        if (T > 0) {
            ASSERT_LE(T + 1, File.size());
            EXPECT_TRUE(std::equal(State.Targets.begin(), State.Targets.end(), File.begin() + 1));
        }
        EXPECT_EQ(State.From, File.size() > T + 1 ? File[T + 1] : "Edit1");
        EXPECT_EQ(State.Max, File.size() > T + 2 ? File[T + 2] : "100");
        const size_t P = State.Proxies.size();
        if (P > 0) {
            ASSERT_LE(T + 4 + P, File.size());
            EXPECT_TRUE(std::equal(State.Proxies.begin(), State.Proxies.end(), File.begin() + T + 4));
        }
    }
};

// ---- Files of a given breakage, with what they load ----------------------------------------------

// The bytes, and what large files load, are made when the case runs: built with the table, they would
// cost every test of this program their time and memory at its start.
struct BrokenCase {
    const char* Name;
    std::function<std::string()> Bytes;
    TLoaded Loaded;
    std::function<TLoaded()> LargeLoaded = {}; // when set, what is loaded instead of Loaded
};

void PrintTo(const BrokenCase& Case, std::ostream* Out) {
    *Out << Case.Name;
}

std::string TenMegabytes() {
    return std::string(10 * 1024 * 1024, 'm');
}

// A literal's bytes, zero bytes included.
template <size_t N> std::string WithZeros(const char (&Literal)[N]) {
    return std::string(Literal, N - 1);
}

const BrokenCase BrokenCases[] = {
    // A count beyond the file reads the file's remaining lines and stops at its end.
    {"TargetCountMaxInt",
     [] { return std::string("2147483647\r\nhttp://a/\r\nFrom\r\nMax\r\n1\r\n"); },
     {{"http://a/", "From", "Max", "1"}, "Edit1", "100", {}}},
    {"ProxyCountMaxInt",
     [] { return std::string("0\r\nFrom\r\nMax\r\n2147483647\r\np:1\r\np:2\r\n"); },
     {{}, "From", "Max", {"p:1", "p:2"}}},
    {"ProxyCountNotANumber",
     [] { return std::string("0\r\nFrom\r\nMax\r\nx\r\np:1\r\n"); },
     {{}, "From", "Max", {}}},
    {"TenMegabyteLines",
     [] { return "1\r\n" + TenMegabytes() + "\r\nFrom\r\nMax\r\n1\r\n" + TenMegabytes() + "\r\n"; },
     {},
     [] { return TLoaded{{TenMegabytes()}, "From", "Max", {TenMegabytes()}}; }},
    {"TenMegabytesWithoutLineEnd", [] { return TenMegabytes(); }, {{}, "Edit1", "100", {}}},
    {"CountWithoutLineEnd", [] { return std::string("5"); }, {{}, "Edit1", "100", {}}},
    // Zero bytes are bytes like any other in a text; in a count they make it no number.
    {"ZeroBytes",
     [] { return WithZeros("2\r\nhttp://a/\0x\r\n\0\r\nFr\0m\r\n\0\0\r\n1\r\n\0p:1\r\n"); },
     {{WithZeros("http://a/\0x"), WithZeros("\0")},
      WithZeros("Fr\0m"),
      WithZeros("\0\0"),
      {WithZeros("\0p:1")}}},
    {"ZeroByteInACount",
     [] { return WithZeros("1\0\r\nhttp://a/\r\nMax\r\n0\r\n"); },
     {{}, "http://a/", "Max", {}}},
    // Carriage returns alone end no line: the whole file is one line, and no count.
    {"CarriageReturnsOnly",
     [] { return std::string("2\rhttp://a/\rhttp://b/\rFrom\rMax\r0\r"); },
     {{}, "Edit1", "100", {}}},
    // Every line a list line: the lists hold what the file holds.
    {"TwoHundredThousandTargets",
     [] {
         std::string Bytes = "2147483647\r\n";
         for (int I = 0; I < 200000; ++I) Bytes += "t\r\n";
         return Bytes;
     },
     {},
     [] { return TLoaded{Lines(200000, "t"), "Edit1", "100", {}}; }},
};

class BrokenSettingsFile : public BrokenSettings, public testing::WithParamInterface<BrokenCase> {};

TEST_P(BrokenSettingsFile, LoadsWhatItHolds) {
    const std::string Bytes = GetParam().Bytes();
    EXPECT_EQ(Load(Bytes), GetParam().LargeLoaded ? GetParam().LargeLoaded() : GetParam().Loaded);
}

INSTANTIATE_TEST_SUITE_P(Files, BrokenSettingsFile, testing::ValuesIn(BrokenCases),
                         [](const testing::TestParamInfo<BrokenCase>& Info) {
                             return std::string(Info.param.Name);
                         });

// ---- Binary bytes --------------------------------------------------------------------------------

// A megabyte of bytes of every value, line feeds and carriage returns among them at random.
TEST_F(BrokenSettings, BinaryBytesLoadAsLinesOfTheFile) {
    std::mt19937 Generator(77);
    std::uniform_int_distribution<int> Byte(0, 255);
    for (int Round = 0; Round < 4; ++Round) {
        std::string Bytes(1024 * 1024, '\0');
        for (char& C : Bytes) C = static_cast<char>(Byte(Generator));
        // Lines that start with digits, so the counts read something now and then.
        if (Round % 2 == 1) Bytes.replace(0, 3, "37\n");
        SCOPED_TRACE("round " + std::to_string(Round));
        ExpectLinesOfTheFile(Load(Bytes), Bytes);
    }
}

// ---- A file cut anywhere --------------------------------------------------------------------------

// A valid file cut after each of its bytes loads every item whose line is there, the one the cut falls
// in as far as it goes, and nothing of the rest.
TEST_F(BrokenSettings, FileCutAtEveryByteLoadsItsItemsAsFarAsTheyGo) {
    const TLoaded Whole{{"http://127.0.0.1/a", "http://127.0.0.1/b"},
                        " from ",
                        "7",
                        {"1.1.1.1:80\x28\x81\x9B\x29", "2.2.2.2:8080"}};
    // Lines 0 and 5 are the counts.
    const Lines Texts = {"2", Whole.Targets[0], Whole.Targets[1], Whole.From, Whole.Max,
                         "2", Whole.Proxies[0], Whole.Proxies[1]};
    std::string File;
    std::vector<size_t> Starts;
    for (const std::string& Text : Texts) {
        Starts.push_back(File.size());
        File += Text + "\r\n";
    }

    for (size_t Cut = 0; Cut <= File.size(); ++Cut) {
        SCOPED_TRACE("cut after " + std::to_string(Cut) + " bytes");
        // A line is there when the cut leaves at least one of its bytes. Cut before its line feed, it
        // holds what the cut left, a carriage return without its line feed included.
        auto Present = [&](size_t Line, std::string& Text) {
            if (Cut <= Starts[Line]) return false;
            const bool Whole = Cut >= Starts[Line] + Texts[Line].size() + 2;
            Text = Whole ? Texts[Line] : File.substr(Starts[Line], Cut - Starts[Line]);
            return true;
        };
        TLoaded Expected{{}, "Edit1", "100", {}};
        std::string Text;
        for (size_t Line : {1, 2})
            if (Present(Line, Text)) Expected.Targets.push_back(Text);
        if (Present(3, Text)) Expected.From = Text;
        if (Present(4, Text)) Expected.Max = Text;
        for (size_t Line : {6, 7})
            if (Present(Line, Text)) Expected.Proxies.push_back(Text);
        // A count cut to its carriage return is no number; nothing follows it in the file anyway.
        EXPECT_EQ(Load(File.substr(0, Cut)), Expected);
    }
}

} // namespace
