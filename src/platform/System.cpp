#include "platform/System.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <ctime>
#include <iconv.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace platform {

namespace {

constexpr const char* SystemCodePage = "CP932";

std::string HomeDirectory() {
    // The user database, not $HOME: the program reads no environment variables.
    std::vector<char> Scratch(16384);
    passwd Entry{};
    passwd* Found = nullptr;
    if (::getpwuid_r(::getuid(), &Entry, Scratch.data(), Scratch.size(), &Found) != 0 || !Found ||
        !Found->pw_dir)
        return {};
    return Found->pw_dir;
}

// Makes each missing folder of Path private to the user, as the per-user data folders should be.
void MakeDirectories(const std::string& Path) {
    for (size_t Slash = Path.find('/', 1); Slash != std::string::npos; Slash = Path.find('/', Slash + 1))
        ::mkdir(Path.substr(0, Slash).c_str(), 0700);
}

// Folders that installed programs live in. Root may write to them, but a settings file there would be
// one that no package knows of, shared by every user who runs the program as root.
bool IsSystemProgramFolder(const std::string& Folder) {
    for (const char* System :
         {"/bin/", "/sbin/", "/usr/bin/", "/usr/sbin/", "/usr/local/bin/", "/usr/local/sbin/"})
        if (Folder == System) return true;
    return false;
}

class Converter {
public:
    Converter(const char* To, const char* From) : Handle(::iconv_open(To, From)) {}
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;
    ~Converter() {
        if (Valid()) ::iconv_close(Handle);
    }
    bool Valid() const { return Handle != reinterpret_cast<iconv_t>(-1); }

    // Converts Text; an input sequence that cannot be converted becomes "?" and the conversion goes on
    // after SkipLength(position) bytes.
    template <typename Skip> std::string Convert(const std::string& Text, Skip SkipLength) {
        std::string Result;
        if (!Valid()) return Result;
        Result.reserve(Text.size() * 3 / 2 + 8);
        char* In = const_cast<char*>(Text.data());
        size_t InLeft = Text.size();
        char Chunk[1024];
        while (InLeft > 0) {
            char* Out = Chunk;
            size_t OutLeft = sizeof Chunk;
            const size_t Done = ::iconv(Handle, &In, &InLeft, &Out, &OutLeft);
            Result.append(Chunk, static_cast<size_t>(Out - Chunk));
            if (Done != static_cast<size_t>(-1)) break;
            if (errno == E2BIG) continue;
            // EILSEQ (not convertible) or EINVAL (cut off at the end): mark it and step over it.
            Result += '?';
            const size_t Step =
                std::min(InLeft, SkipLength(reinterpret_cast<const unsigned char*>(In), InLeft));
            In += Step;
            InLeft -= Step;
            ::iconv(Handle, nullptr, nullptr, nullptr, nullptr);
        }
        char* Out = Chunk;
        size_t OutLeft = sizeof Chunk;
        ::iconv(Handle, nullptr, nullptr, &Out, &OutLeft);
        Result.append(Chunk, static_cast<size_t>(Out - Chunk));
        return Result;
    }

private:
    iconv_t Handle;
};

size_t Utf8SequenceLength(const unsigned char* Bytes, size_t Left) {
    const unsigned char Lead = Bytes[0];
    size_t Length = Lead < 0xC0 ? 1 : Lead < 0xE0 ? 2 : Lead < 0xF0 ? 3 : 4;
    Length = std::min(Length, Left);
    // A broken sequence is skipped only up to the first byte that is not a continuation byte.
    for (size_t I = 1; I < Length; ++I)
        if ((Bytes[I] & 0xC0) != 0x80) return I;
    return Length;
}

size_t SjisSequenceLength(const unsigned char* Bytes, size_t Left) {
    const unsigned char Lead = Bytes[0];
    const bool DoubleByte = (Lead >= 0x81 && Lead <= 0x9F) || (Lead >= 0xE0 && Lead <= 0xFC);
    return DoubleByte && Left >= 2 && Bytes[1] >= 0x40 && Bytes[1] != 0x7F && Bytes[1] <= 0xFC ? 2 : 1;
}

} // namespace

std::string UserDataFolder(const std::string& Home) {
    if (Home.empty()) return {};
    const std::string Folder = Home + (Home.back() == '/' ? "" : "/") + ".local/share/vindral/";
    MakeDirectories(Folder);
    // A folder that earlier versions made readable to all holds the settings and the scratch files.
    struct stat St {};
    if (::lstat(Folder.c_str(), &St) != 0 || !S_ISDIR(St.st_mode)) return {};
    if ((St.st_mode & 077) != 0 && St.st_uid == ::geteuid() && ::chmod(Folder.c_str(), 0700) != 0) return {};
    return Folder;
}

std::string ExecutableDirectory() {
    char Path[PATH_MAX + 1];
    const ssize_t Length = ::readlink("/proc/self/exe", Path, PATH_MAX);
    std::string Folder;
    if (Length > 0) {
        Folder.assign(Path, static_cast<size_t>(Length));
        Folder.erase(Folder.rfind('/') + 1);
    }
    if (!Folder.empty() && ::access(Folder.c_str(), W_OK) == 0 && !IsSystemProgramFolder(Folder))
        return Folder;
    // An installed copy lives in a folder its user cannot write to, or in the system's own.
    const std::string UserFolder = UserDataFolder(HomeDirectory());
    return UserFolder.empty() ? Folder : UserFolder;
}

void Sleep(unsigned Milliseconds) {
    timespec Left{static_cast<time_t>(Milliseconds / 1000),
                  static_cast<long>(Milliseconds % 1000) * 1000000L};
    while (::nanosleep(&Left, &Left) != 0 && errno == EINTR) {
    }
}

std::string SjisToUtf8(const std::string& Sjis) {
    Converter Conversion("UTF-8", SystemCodePage);
    return Conversion.Convert(Sjis, SjisSequenceLength);
}

std::string Utf8ToSjis(const std::string& Utf8) {
    Converter Conversion(SystemCodePage, "UTF-8");
    return Conversion.Convert(Utf8, Utf8SequenceLength);
}

} // namespace platform
