#pragma once
// The TLS side of the end-to-end tests: a test certificate authority and server certificates made with
// the openssl command, and nginx serving https with them on loopback ports.
#include "RealServers.h"

#include <cstdint>
#include <string>

struct TestCertificate {
    std::string Certificate; // PEM file
    std::string Key;         // PEM file
};

// Made once per test program in a temporary folder, which goes when the program ends.
class TestCertificates {
public:
    static const TestCertificates& Get();

    std::string CaFile;        // the test authority's certificate, to be trusted by the client
    TestCertificate Server;    // localhost and 127.0.0.1, from the test authority
    TestCertificate Expired;   // the same names from the same authority, valid in January 2020 only
    TestCertificate OtherHost; // other.invalid only, from the test authority
    TestCertificate OtherCa;   // localhost and 127.0.0.1, from an authority nobody trusts
    std::string OtherCaFile;   // that other authority's certificate

private:
    TestCertificates();
    TempFolder FFolder;
};

// nginx serving one folder over http on HttpPort() and over https with each kind of certificate, all on
// 127.0.0.1. Besides the files it answers:
//   http  /to-https/NAME  with 302 to https://localhost:HttpsPort()/NAME
//   https /to-http/NAME   with 302 to http://localhost:HttpPort()/NAME
//   https /relative/NAME  with 302 and the Location "/NAME" (no scheme, no host)
//   http and https /loop  with 302 to /loop of the other scheme, without end
class HttpsNginxServer {
public:
    HttpsNginxServer();
    uint16_t HttpPort() const { return FHttpPort; }
    uint16_t HttpsPort() const { return FHttpsPort; }     // the test authority's certificate
    uint16_t ExpiredPort() const { return FExpiredPort; } // the expired one
    uint16_t OtherHostPort() const { return FOtherHostPort; }

    // "https://localhost:PORT/NAME" (the good certificate's port unless another is given).
    std::string HttpsUrl(const std::string& Name, uint16_t Port = 0) const;
    std::string HttpUrl(const std::string& Name) const;
    std::string Root() const { return FFolder.Path() + "/www"; }
    void AddFile(const std::string& Name, const std::string& Bytes) const;

private:
    TempFolder FFolder;
    uint16_t FHttpPort = 0;
    uint16_t FHttpsPort = 0;
    uint16_t FExpiredPort = 0;
    uint16_t FOtherHostPort = 0;
    ChildProcess FProcess;
};
