#include "TlsServers.h"

#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <spawn.h>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

// The openssl command with Arguments, to its end; its output goes to Log, shown when it fails.
void Openssl(std::vector<std::string> Arguments, const std::string& Log) {
    Arguments.insert(Arguments.begin(), "/usr/bin/openssl");
    posix_spawn_file_actions_t Actions;
    posix_spawn_file_actions_init(&Actions);
    posix_spawn_file_actions_addopen(&Actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&Actions, STDOUT_FILENO, Log.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    posix_spawn_file_actions_adddup2(&Actions, STDOUT_FILENO, STDERR_FILENO);
    std::vector<char*> Argv;
    for (std::string& A : Arguments) Argv.push_back(A.data());
    Argv.push_back(nullptr);
    pid_t Pid = -1;
    const int Error = ::posix_spawn(&Pid, Argv[0], &Actions, nullptr, Argv.data(), environ);
    posix_spawn_file_actions_destroy(&Actions);
    int Status = 0;
    if (Error != 0 || ::waitpid(Pid, &Status, 0) != Pid || !WIFEXITED(Status) || WEXITSTATUS(Status) != 0) {
        std::string Line;
        for (const std::string& A : Arguments) Line += A + " ";
        throw std::runtime_error("failed: " + Line + "\n" + ReadWholeFile(Log));
    }
}

// One configuration for both authorities (sections "test" and "other") and every certificate kind.
std::string OpensslConfig(const std::string& Dir) {
    std::ostringstream Conf;
    Conf << "[ req ]\n"
         << "distinguished_name = dn\n"
         << "[ dn ]\n"
         << "[ authority ]\n"
         << "basicConstraints = critical, CA:TRUE\n"
         << "keyUsage = critical, keyCertSign, cRLSign\n"
         << "subjectKeyIdentifier = hash\n";
    for (const char* Name : {"test", "other"}) {
        Conf << "[ " << Name << " ]\n"
             << "database = " << Dir << "/" << Name << ".index\n"
             << "new_certs_dir = " << Dir << "/issued\n"
             << "serial = " << Dir << "/" << Name << ".serial\n"
             << "default_md = sha256\n"
             << "policy = any\n"
             << "unique_subject = no\n";
    }
    Conf << "[ any ]\n"
         << "commonName = supplied\n";
    for (const auto& [Section, Names] : {std::pair{"loopback", "DNS:localhost, IP:127.0.0.1"},
                                         std::pair{"elsewhere", "DNS:other.invalid"}}) {
        Conf << "[ " << Section << " ]\n"
             << "basicConstraints = critical, CA:FALSE\n"
             << "keyUsage = critical, digitalSignature\n"
             << "extendedKeyUsage = serverAuth\n"
             << "authorityKeyIdentifier = keyid\n"
             << "subjectAltName = " << Names << "\n";
    }
    return Conf.str();
}

std::vector<std::string> NewKey(const std::string& KeyFile) {
    return {"-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes", "-keyout", KeyFile};
}

} // namespace

const TestCertificates& TestCertificates::Get() {
    static const TestCertificates Made;
    return Made;
}

TestCertificates::TestCertificates() {
    const std::string Dir = FFolder.Path();
    const std::string Config = FFolder.WriteFile("openssl.cnf", OpensslConfig(Dir));
    const std::string Log = Dir + "/openssl.log";
    std::filesystem::create_directories(Dir + "/issued");

    auto MakeAuthority = [&](const std::string& Name, const std::string& Subject) {
        FFolder.WriteFile(Name + ".index", "");
        FFolder.WriteFile(Name + ".serial", Name == "test" ? "1000\n" : "2000\n");
        std::vector<std::string> Arguments{"req", "-x509", "-config", Config, "-extensions", "authority"};
        for (const std::string& A : NewKey(Dir + "/" + Name + ".key")) Arguments.push_back(A);
        for (const std::string& A : {std::string("-out"), Dir + "/" + Name + ".pem", std::string("-days"),
                                     std::string("3650"), std::string("-subj"), "/CN=" + Subject})
            Arguments.push_back(A);
        Openssl(Arguments, Log);
        return Dir + "/" + Name + ".pem";
    };
    // Dates is either {"-days", N} or {"-startdate", D, "-enddate", D}.
    auto Issue = [&](const std::string& File, const std::string& Authority, const std::string& Names,
                     const std::vector<std::string>& Dates) {
        TestCertificate Made{Dir + "/" + File + ".pem", Dir + "/" + File + ".key"};
        std::vector<std::string> Request{
            "req", "-new", "-config", Config, "-out", Dir + "/" + File + ".csr", "-subj", "/CN=" + File};
        for (const std::string& A : NewKey(Made.Key)) Request.push_back(A);
        Openssl(Request, Log);
        std::vector<std::string> Sign{"ca",          "-batch",
                                      "-config",     Config,
                                      "-name",       Authority,
                                      "-cert",       Dir + "/" + Authority + ".pem",
                                      "-keyfile",    Dir + "/" + Authority + ".key",
                                      "-in",         Dir + "/" + File + ".csr",
                                      "-out",        Made.Certificate,
                                      "-extensions", Names};
        for (const std::string& A : Dates) Sign.push_back(A);
        Openssl(Sign, Log);
        return Made;
    };

    CaFile = MakeAuthority("test", "Vindral Test Authority");
    OtherCaFile = MakeAuthority("other", "Vindral Other Authority");
    const std::vector<std::string> TenYears{"-days", "3650"};
    Server = Issue("server", "test", "loopback", TenYears);
    Expired = Issue("expired", "test", "loopback",
                    {"-startdate", "20200101000000Z", "-enddate", "20200201000000Z"});
    OtherHost = Issue("otherhost", "test", "elsewhere", TenYears);
    OtherCa = Issue("otherca", "other", "loopback", TenYears);
}

HttpsNginxServer::HttpsNginxServer() {
    const TestCertificates& Certificates = TestCertificates::Get();
    const std::string Dir = FFolder.Path();
    std::filesystem::create_directories(Dir + "/www");
    std::filesystem::create_directories(Dir + "/temp");
    auto Started = StartOnFreePort("nginx", Dir + "/error.log", [&](uint16_t Port) {
        // The https port with the good certificate is the one probed; nginx binds every port before it
        // serves any, so the others listen too once it answers.
        FHttpsPort = Port;
        FHttpPort = FreeLoopbackPort();
        FExpiredPort = FreeLoopbackPort();
        FOtherHostPort = FreeLoopbackPort();
        auto Tls = [&](uint16_t TlsPort, const TestCertificate& Certificate) {
            return "    listen 127.0.0.1:" + std::to_string(TlsPort) + " ssl;\n" + "    ssl_certificate " +
                   Certificate.Certificate + ";\n" + "    ssl_certificate_key " + Certificate.Key + ";\n" +
                   "    root " + Dir + "/www;\n";
        };
        std::ostringstream Conf;
        Conf << NginxConfigStart(Dir) << "  server {\n"
             << "    listen 127.0.0.1:" << FHttpPort << ";\n"
             << "    root " << Dir << "/www;\n"
             << "    location /to-https/ {\n"
             << "      rewrite ^/to-https/(.*)$ https://localhost:" << FHttpsPort << "/$1 redirect;\n"
             << "    }\n"
             << "    location = /loop { return 302 https://localhost:" << FHttpsPort << "/loop; }\n"
             << "  }\n"
             << "  server {\n"
             << Tls(FHttpsPort, Certificates.Server) << "    location /to-http/ {\n"
             << "      rewrite ^/to-http/(.*)$ http://localhost:" << FHttpPort << "/$1 redirect;\n"
             << "    }\n"
             << "    location = /loop { return 302 http://localhost:" << FHttpPort << "/loop; }\n"
             << "    location /relative/ {\n"
             << "      absolute_redirect off;\n"
             << "      rewrite ^/relative/(.*)$ /$1 redirect;\n"
             << "    }\n"
             << "  }\n"
             << "  server {\n"
             << Tls(FExpiredPort, Certificates.Expired) << "  }\n"
             << "  server {\n"
             << Tls(FOtherHostPort, Certificates.OtherHost) << "  }\n"
             << "}\n";
        const std::string ConfFile = FFolder.WriteFile("nginx.conf", Conf.str());
        return ChildProcess({"/usr/sbin/nginx", "-p", Dir, "-c", ConfFile, "-g", "daemon off;"},
                            Dir + "/nginx.out");
    });
    FProcess = std::move(Started.second);
}

std::string HttpsNginxServer::HttpsUrl(const std::string& Name, uint16_t Port) const {
    return "https://localhost:" + std::to_string(Port ? Port : FHttpsPort) + "/" + Name;
}

std::string HttpsNginxServer::HttpUrl(const std::string& Name) const {
    return "http://localhost:" + std::to_string(FHttpPort) + "/" + Name;
}

void HttpsNginxServer::AddFile(const std::string& Name, const std::string& Bytes) const {
    const std::filesystem::path FileName = std::filesystem::path(Root()) / Name;
    std::filesystem::create_directories(FileName.parent_path());
    std::ofstream Out(FileName, std::ios::binary | std::ios::trunc);
    Out << Bytes;
    if (!Out) throw std::runtime_error("cannot write " + FileName.string());
}
