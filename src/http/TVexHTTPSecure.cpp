// The https part of the HTTP client: the tunnel through a proxy and TLS with the origin.
#include "http/ConnectTunnel.h"
#include "http/TVexHTTP.h"

void TVexHTTP::StartSecureChannel() {
    if (!Proxy.empty()) {
        // The proxy's own credentials go along when the assembled request carries them.
        Write(ConnectRequest(Host + ":" + std::to_string(Port), HeaderInfo->LocalProgram,
                             SendHeader->GetValue("Proxy-Authorization")));
        ReadConnectReply(*this, MaxHeaderBytes);
    }
    StartTls(TlsContext(), Host);
}

TTlsContext& TVexHTTP::TlsContext() {
    if (!FTlsContext || FTlsContext->CaFile() != CaFile) FTlsContext = std::make_unique<TTlsContext>(CaFile);
    return *FTlsContext;
}
