#pragma once
// Hostile peers for the suites that try to break the HTTP client and the proxy visit: each kind is the
// script of a loopback peer that answers an HTTP request the way a broken, slow or malicious proxy or
// origin does. The slow ones are paced for a client time-out of a few hundred milliseconds: every piece
// comes well within it, the whole never does.
#include "LoopbackPeer.h"

#include <vector>

enum class HostileKind {
    HeaderDrip,             // the header a byte every 40 ms, in short lines, without end
    EndlessHeader,          // header lines of 60,000 bytes each, as fast as they are read, without end
    HugeHeaderLine,         // one header line of 100 MB
    HugeLocation,           // a redirect whose Location line is 1 MB long
    HugeCookie,             // a Set-Cookie line of 1 MB
    EndlessBody,            // a whole header without a length, then a body that never ends
    EndlessCountedBody,     // the same with "Content-Length: 60000000", within the default body limit
    ResetInHeader,          // half a header, then a reset
    ResetInBody,            // a whole header without a length and part of the body, then a reset
    ResetInCountedBody,     // the same with a length
    CloseBeforeStatus,      // reads the request and closes without sending a byte
    CloseInHeader,          // the status line and half a header line, then closes
    Garbage,                // 4 KB of binary bytes instead of a response, then closes
    KeepAliveWithLength,    // a whole response with its length, then holds the connection open
    KeepAliveWithoutLength, // a whole header without a length and a body, then holds it open
    LengthBeyondBody,       // announces 100 bytes, sends 5 and holds the connection open
    NegativeLength,         // "Content-Length: -5" and a body, then closes
    LengthBeyond32Bits,     // announces 4,294,967,301 bytes, sends 5 and closes
    ChunkedClosed,          // a chunked body, then closes
    ChunkedKeptAlive,       // a chunked body up to its last chunk, then holds the connection open
    RedirectLoop,           // 302 to itself, on every connection
    RedirectToHttps,        // 302 to an https URL; a CONNECT that follows is refused with 403
    Unauthorized,           // 401 with a short body, then closes
    NeverReads,             // accepts and never reads; a small receive buffer pushes back at once
    AnswersEarly,           // answers after the request line, closes its side, reads the rest
    AnswersEarlyThenResets, // answers after the request's header and resets with the body unread
};

// The peer for one kind: a script per connection the client makes, and the peer's options.
struct HostileScene {
    std::vector<PeerScript> Scripts;
    PeerOptions Options;
};

HostileScene HostileScripts(HostileKind Kind);
const char* HostileName(HostileKind Kind);
