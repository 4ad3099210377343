// The HTTP client over https against curl on loopback: a large file to disk, and many small pages each
// on a new connection, straight to nginx and through tinyproxy (a CONNECT tunnel); then the CPU of a TLS
// handshake that waits on a silent peer.
//
//   bench_https [large MB=256] [pages=1000] [silent seconds=10]
//
// nginx serves https with a certificate of a test authority made by the openssl command; both clients
// trust that authority. curl runs with -0 (HTTP/1.0), so that both speak the same protocol and nginx
// closes every connection after its response; curl fetches the pages in one process (-K), as the client
// does. The figures are wall-clock times of whole transfers, the best of three; peak resident sizes are
// the client's own, after a small and after the large fetch, and curl's.
#include "BenchKit.h"
#include "http/TVexHTTP.h"
#include "net/SocketErrors.h"
#include "support/LoopbackPeer.h"
#include "support/TlsServers.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <functional>
#include <stdexcept>
#include <string>
#include <sys/resource.h>

namespace {

using TClock = std::chrono::steady_clock;
using namespace bench;

double CpuSeconds() {
    timespec Time{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &Time);
    return static_cast<double>(Time.tv_sec) + static_cast<double>(Time.tv_nsec) / 1e9;
}

// CPU spent by a handshake that waits Seconds on a peer that answers nothing.
void SilentHandshake(int Seconds) {
    LoopbackPeer Peer({PeerScript().Hold(), PeerScript().Hold()});
    TVexHTTP H(nullptr);
    H.SecureSocket = true;
    const std::string Url = "https://localhost:" + std::to_string(Peer.Port()) + "/";
    // A first short wait loads the certificate store, which is not part of the waiting.
    H.TimeOut = 200;
    try {
        H.Get(Url);
    } catch (const ESockError&) {
    }
    H.TimeOut = Seconds * 1000;
    const auto Start = TClock::now();
    const double CpuStart = CpuSeconds();
    std::string Outcome;
    try {
        H.Get(Url);
    } catch (const ESockError& E) {
        Outcome = E.Message;
    }
    const double Cpu = CpuSeconds() - CpuStart;
    const double Wall = std::chrono::duration<double>(TClock::now() - Start).count();
    std::printf("handshake on a silent peer: \"%s\" after %.2f s; CPU %.4f s (target < 0.05 s per 10 s)\n",
                Outcome.c_str(), Wall, Cpu);
}

} // namespace

int main(int Argc, char** Argv) {
    const size_t LargeMb = Argc > 1 ? std::strtoul(Argv[1], nullptr, 10) : 256;
    const int Pages = Argc > 2 ? std::atoi(Argv[2]) : 1000;
    const int SilentSeconds = Argc > 3 ? std::atoi(Argv[3]) : 10;
    if (LargeMb < 16 || Pages <= 0 || SilentSeconds <= 0) {
        std::fprintf(stderr, "usage: bench_https [large MB, 16 or more] [pages] [silent seconds]\n");
        return 2;
    }
    try {
        const std::string CaFile = TestCertificates::Get().CaFile;
        HttpsNginxServer Origin;
        TinyproxyServer Proxy;
        TempFolder Work;
        const std::string Large = Origin.Root() + "/large.bin";
        const std::string Small = Origin.Root() + "/small.bin";
        WriteLargeFile(Large, LargeMb);
        WriteLargeFile(Small, 16);
        Origin.AddFile("page.html", std::string(1024, 'p'));
        const std::string Curl = "curl -0 -s --cacert '" + CaFile + "' ";
        const std::string ProxyArg = "-x 127.0.0.1:" + std::to_string(Proxy.Port()) + " ";
        const std::string Ours = Work.Path() + "/ours.bin";
        const std::string Theirs = Work.Path() + "/curl.bin";

        TVexHTTP H(nullptr);
        H.SecureSocket = true;
        H.CaFile = CaFile;
        H.TimeOut = 120000;
        H.InputFileMode = true;
        H.Body = Ours;

        std::printf("https: large file %zu MB, %d pages of 1 KB, nginx on %u, tinyproxy on %u\n", LargeMb,
                    Pages, Origin.HttpsPort(), Proxy.Port());

        H.Get(Origin.HttpsUrl("small.bin"));
        const long RssSmall = PeakRssKb(RUSAGE_SELF);
        if (H.ReplyCode != 200 || !SameFiles(Ours, Small)) throw std::runtime_error("small fetch differs");
        const double DirectOurs = SecondsOf([&] { H.Get(Origin.HttpsUrl("large.bin")); });
        const long RssLarge = PeakRssKb(RUSAGE_SELF);
        if (H.ReplyCode != 200 || !SameFiles(Ours, Large)) throw std::runtime_error("large fetch differs");
        const double DirectCurl =
            SecondsOf([&] { Run(Curl + "-o '" + Theirs + "' " + Origin.HttpsUrl("large.bin")); });
        Report("large file to disk, straight to nginx", DirectOurs, DirectCurl);

        H.Proxy = "127.0.0.1";
        H.ProxyPort = Proxy.Port();
        const double ProxyOurs = SecondsOf([&] { H.Get(Origin.HttpsUrl("large.bin")); });
        if (H.ReplyCode != 200 || !SameFiles(Ours, Large)) throw std::runtime_error("large fetch differs");
        const double ProxyCurl =
            SecondsOf([&] { Run(Curl + ProxyArg + "-o '" + Theirs + "' " + Origin.HttpsUrl("large.bin")); });
        Report("large file to disk, through tinyproxy", ProxyOurs, ProxyCurl);
        std::printf("peak RSS: TVexHTTP %ld KB after the 16 MB fetch, %ld KB after the %zu MB ones; curl "
                    "(largest child) %ld KB\n",
                    RssSmall, RssLarge, LargeMb, PeakRssKb(RUSAGE_CHILDREN));

        // Many small pages, each on a new connection.
        H.InputFileMode = false;
        const std::string UrlList = Work.Path() + "/urls.txt";
        {
            std::ofstream List(UrlList);
            for (int I = 0; I < Pages; ++I) List << "url = \"" << Origin.HttpsUrl("page.html") << "\"\n";
        }
        auto OursPages = [&] {
            for (int I = 0; I < Pages; ++I) {
                H.Get(Origin.HttpsUrl("page.html"));
                if (H.ReplyCode != 200 || H.Body.size() != 1024)
                    throw std::runtime_error("page fetch failed");
            }
        };
        H.Proxy.clear();
        const double PagesOurs = SecondsOf(OursPages);
        const double PagesCurl = SecondsOf([&] { Run(Curl + "-K '" + UrlList + "' > /dev/null"); });
        Report("1 KB pages, straight to nginx", PagesOurs, PagesCurl);
        H.Proxy = "127.0.0.1";
        const double ProxyPagesOurs = SecondsOf(OursPages);
        const double ProxyPagesCurl =
            SecondsOf([&] { Run(Curl + ProxyArg + "-K '" + UrlList + "' > /dev/null"); });
        Report("1 KB pages, through tinyproxy", ProxyPagesOurs, ProxyPagesCurl);
        std::printf("per page: TVexHTTP %.3f ms straight, %.3f ms through the proxy\n",
                    PagesOurs * 1000 / Pages, ProxyPagesOurs * 1000 / Pages);

        SilentHandshake(SilentSeconds);
    } catch (const std::exception& E) {
        std::fprintf(stderr, "bench_https: %s\n", E.what());
        return 1;
    }
    return 0;
}
