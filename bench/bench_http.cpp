// The HTTP client against curl on loopback: a large file to disk, and many small pages one connection
// after another, straight to nginx and through tinyproxy.
//
//   bench_http [large MB=256] [pages=1000]
//
// Both servers are started on free loopback ports from temporary folders and stopped at the end. curl
// runs with -0 (HTTP/1.0) so that both clients speak the same protocol. The figures are wall-clock times
// of whole transfers, the best of three; the peak resident sizes are the client's own and curl's.
#include "BenchKit.h"
#include "http/TVexHTTP.h"
#include "support/RealServers.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <stdexcept>
#include <string>
#include <sys/resource.h>
#include <vector>

using namespace bench;

int main(int Argc, char** Argv) {
    const size_t LargeMb = Argc > 1 ? std::strtoul(Argv[1], nullptr, 10) : 256;
    const int Pages = Argc > 2 ? std::atoi(Argv[2]) : 1000;
    if (LargeMb == 0 || Pages <= 0) {
        std::fprintf(stderr, "usage: bench_http [large MB] [pages]\n");
        return 2;
    }
    try {
        NginxServer Origin;
        TinyproxyServer Proxy;
        TempFolder Work;
        const std::string Large = Origin.Root() + "/large.bin";
        WriteLargeFile(Large, LargeMb);
        Origin.AddFile("page.html", std::string(1024, 'p'));
        const std::string ProxyArg = "-x 127.0.0.1:" + std::to_string(Proxy.Port());
        const std::string Ours = Work.Path() + "/ours.bin";
        const std::string Theirs = Work.Path() + "/curl.bin";

        TVexHTTP H(nullptr);
        H.TimeOut = 120000;
        H.InputFileMode = true;
        H.Body = Ours;

        std::printf("large file: %zu MB, %d pages of 1 KB, nginx on %u, tinyproxy on %u\n", LargeMb, Pages,
                    Origin.Port(), Proxy.Port());

        const long RssBefore = PeakRssKb(RUSAGE_SELF);
        const double DirectOurs = SecondsOf([&] { H.Get(Origin.Url("large.bin")); });
        const long RssAfter = PeakRssKb(RUSAGE_SELF);
        if (H.ReplyCode != 200 || !SameFiles(Ours, Large)) throw std::runtime_error("large fetch differs");
        const double DirectCurl =
            SecondsOf([&] { Run("curl -0 -s -o '" + Theirs + "' " + Origin.Url("large.bin")); });
        Report("large file to disk, straight to nginx", DirectOurs, DirectCurl);

        H.Proxy = "127.0.0.1";
        H.ProxyPort = Proxy.Port();
        const double ProxyOurs = SecondsOf([&] { H.Get(Origin.Url("large.bin")); });
        if (H.ReplyCode != 200 || !SameFiles(Ours, Large)) throw std::runtime_error("large fetch differs");
        const double ProxyCurl = SecondsOf(
            [&] { Run("curl -0 -s " + ProxyArg + " -o '" + Theirs + "' " + Origin.Url("large.bin")); });
        Report("large file to disk, through tinyproxy", ProxyOurs, ProxyCurl);
        std::printf("peak RSS: TVexHTTP %ld KB before the large fetch, %ld KB after it; curl (largest child) "
                    "%ld KB\n",
                    RssBefore, RssAfter, PeakRssKb(RUSAGE_CHILDREN));

        // Many small pages, one connection after another.
        H.InputFileMode = false;
        const std::string UrlList = Work.Path() + "/urls.txt";
        {
            std::ofstream List(UrlList);
            for (int I = 0; I < Pages; ++I) List << "url = \"" << Origin.Url("page.html") << "\"\n";
        }
        auto OursPages = [&] {
            for (int I = 0; I < Pages; ++I) {
                H.Get(Origin.Url("page.html"));
                if (H.ReplyCode != 200 || H.Body.size() != 1024)
                    throw std::runtime_error("page fetch failed");
            }
        };
        H.Proxy.clear();
        const double PagesOurs = SecondsOf(OursPages);
        const double PagesCurl = SecondsOf([&] { Run("curl -0 -s -K '" + UrlList + "' > /dev/null"); });
        Report("1 KB pages, straight to nginx", PagesOurs, PagesCurl);
        H.Proxy = "127.0.0.1";
        const double ProxyPagesOurs = SecondsOf(OursPages);
        const double ProxyPagesCurl =
            SecondsOf([&] { Run("curl -0 -s " + ProxyArg + " -K '" + UrlList + "' > /dev/null"); });
        Report("1 KB pages, through tinyproxy", ProxyPagesOurs, ProxyPagesCurl);
        std::printf("per page: TVexHTTP %.3f ms straight, %.3f ms through the proxy\n",
                    PagesOurs * 1000 / Pages, ProxyPagesOurs * 1000 / Pages);
    } catch (const std::exception& E) {
        std::fprintf(stderr, "bench_http: %s\n", E.what());
        return 1;
    }
    return 0;
}
