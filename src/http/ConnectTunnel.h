#pragma once
// The CONNECT exchange that asks an HTTP proxy for a tunnel to a server, through which the client then
// speaks TLS with that server.
#include "net/TDovrel.h"

#include <string>

// The request for a tunnel to Authority ("host:port"), every line ended by CR LF: the request line, a
// User-Agent line when UserAgent is not empty, a Proxy-Authorization line when ProxyAuthorization is not
// empty, and the empty line. Raises the general exception for a text that would break a line.
std::string ConnectRequest(const std::string& Authority, const std::string& UserAgent,
                           const std::string& ProxyAuthorization);

// Reads the proxy's reply off Socket, under one time-out, as a response header is read: lines ended by
// LF or CR LF, at most MaxBytes in all (then the range error), ESockError when the proxy closes before
// the empty line. A status other than 2xx raises ESockError "Proxy refused the tunnel: " with the status
// line as soon as that line is read. On success exactly the reply's bytes have been taken off the socket.
void ReadConnectReply(TDovrel& Socket, int64_t MaxBytes);
