// Taking protocol lines apart and writing lines.
#include "net/WordHelpers.h"
#include "framework/Exceptions.h"
#include "framework/TMemoryStream.h"
#include "framework/TStream.h"

#include <gtest/gtest.h>

namespace {

struct TWordCase {
    std::string Text;
    char Separator;
    int32_t N;
    std::string Word;
};
void PrintTo(const TWordCase& Case, std::ostream* Out) {
    *Out << testing::PrintToString(Case.Text) << " '" << Case.Separator << "' " << Case.N;
}

class NthWordTest : public testing::TestWithParam<TWordCase> {};

TEST_P(NthWordTest, TakesTheFieldBetweenTheSeparators) {
    EXPECT_EQ(NthWord(GetParam().Text, GetParam().Separator, GetParam().N), GetParam().Word);
}

INSTANTIATE_TEST_SUITE_P(Table, NthWordTest,
                         testing::Values(TWordCase{"HTTP/1.0 200 OK\r\n", ' ', 1, "HTTP/1.0"},
                                         TWordCase{"HTTP/1.0 200 OK\r\n", ' ', 2, "200"},
                                         TWordCase{"HTTP/1.0 200 OK\r\n", ' ', 3, "OK\r\n"},
                                         TWordCase{"HTTP/1.0 200 OK\r\n", ' ', 4, ""},
                                         TWordCase{"a,,b", ',', 2, ""}, TWordCase{"a,,b", ',', 3, "b"},
                                         TWordCase{",a", ',', 1, ""}, TWordCase{",a", ',', 2, "a"},
                                         TWordCase{"abc", ',', 1, "abc"}, TWordCase{"abc,", ',', 2, ""},
                                         TWordCase{"abc", ',', 0, ""}, TWordCase{"abc", ',', -1, ""},
                                         TWordCase{"a,b", ',', INT32_MIN, ""},
                                         TWordCase{"", ',', 1, ""}, TWordCase{"", ',', 0, ""},
                                         TWordCase{"http://host:80/x", ':', 2, "//host"},
                                         TWordCase{"http://host:80/x", '/', 3, "host:80"}));

struct TPosCase {
    std::string Text;
    char Separator;
    int32_t N;
    int32_t Position;
};
void PrintTo(const TPosCase& Case, std::ostream* Out) {
    *Out << testing::PrintToString(Case.Text) << " '" << Case.Separator << "' " << Case.N;
}

class NthPosTest : public testing::TestWithParam<TPosCase> {};

TEST_P(NthPosTest, FindsTheNthSeparatorOrGivesLengthPlusOne) {
    EXPECT_EQ(NthPos(GetParam().Text, GetParam().Separator, GetParam().N), GetParam().Position);
}

INSTANTIATE_TEST_SUITE_P(Table, NthPosTest,
                         testing::Values(TPosCase{"host:80", ':', 1, 5}, TPosCase{"host", ':', 1, 5},
                                         TPosCase{"host:", ':', 1, 5}, TPosCase{"a:b:c", ':', 2, 4},
                                         TPosCase{"a:b:c", ':', 3, 6}, TPosCase{"", ':', 1, 1},
                                         TPosCase{"", ':', 0, 1}, TPosCase{"abc", ':', 0, 1},
                                         // A separator first: the count never returns to 0.
                                         TPosCase{":bc", ':', 0, 4}, TPosCase{"a:b", ':', -1, 4},
                                         TPosCase{"http://h/p", '/', 3, 9}));

// A stream that takes at most Room bytes.
class TShortStream : public TMemoryStream {
public:
    explicit TShortStream(int64_t Room) : FRoom(Room) {}
    int64_t Write(const void* Buffer, int64_t Count) override {
        return TMemoryStream::Write(Buffer, std::min(Count, FRoom - Size()));
    }

private:
    int64_t FRoom;
};

TEST(StreamLnTest, WritesTheTextAndCrLf) {
    TMemoryStream Stream;
    StreamLn(Stream, "");
    StreamLn(Stream, std::string("a\0b", 3));
    EXPECT_EQ(Stream.DataString(), std::string("\r\na\0b\r\n", 7));
}

TEST(StreamLnTest, AStreamThatCannotTakeTheLineIsAWriteError) {
    TShortStream Stream(4);
    EXPECT_THROW(StreamLn(Stream, "abc"), EStreamWriteError);
}

} // namespace
