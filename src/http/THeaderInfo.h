#pragma once
// Optional request header values; a line is sent only when its value is not empty.
#include <string>

class THeaderInfo {
public:
    std::string LocalMailAddress; // "From"
    std::string LocalProgram;     // "User-Agent"
    std::string Cookie;           // "Cookie"; a redirect's cookie replaces it until the command ends
    std::string Referer;          // "Referer"
    std::string UserId;           // with Password: "Authorization", when both are set
    std::string Password;
};
