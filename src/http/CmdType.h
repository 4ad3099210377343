#pragma once
// The commands of the HTTP client. The numeric order matters: the request's header lines and body are
// chosen by ranges of these values.
#include <cstdint>

enum class CmdType : uint8_t {
    CmdGET = 0,
    CmdOPTIONS = 1,
    CmdHEAD = 2,
    CmdPOST = 3,
    CmdPUT = 4,
    CmdPATCH = 5,
    CmdCOPY = 6,
    CmdMOVE = 7,
    CmdDELETE = 8,
    CmdLINK = 9,
    CmdUNLINK = 10,
    CmdTRACE = 11,
    CmdWRAPPED = 12,
};
