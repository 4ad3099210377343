#include "app/LocalFailure.h"

#include "net/SocketErrors.h"

#include <new>
#include <system_error>

bool IsLocalFailure(const std::exception_ptr& Error) {
    if (!Error) return false;
    try {
        std::rethrow_exception(Error);
    } catch (const ESockError& E) {
        return IsLocalSocketError(E.ErrorNo);
    } catch (const std::bad_alloc&) {
        return true;
    } catch (const EStreamWriteError&) {
        // A visit writes only its scratch file; the peer's bytes are never refused by the disk.
        return true;
    } catch (const EFileCreateError&) {
        return true;
    } catch (const std::system_error&) {
        // A thread or another resource of this process the system would not give.
        return true;
    } catch (...) {
        return false;
    }
}

std::string LocalFailureReason(const std::exception_ptr& Error) {
    if (!Error) return {};
    try {
        std::rethrow_exception(Error);
    } catch (const ESockError& E) {
        const std::string Number = std::to_string(E.ErrorNo);
        if (E.ErrorNo == 0 || E.Message.find(Number) != std::string::npos) return E.Message;
        return E.Message + " (" + Number + ")";
    } catch (const std::bad_alloc&) {
        return "Out of memory";
    } catch (const std::exception& E) {
        return E.what();
    } catch (...) {
        return "Unknown exception";
    }
}

std::string LocalStopText(int Index, const std::string& Reason) {
    if (Index < 0) return "Stopped: this computer failed (" + Reason + ")";
    return "Stopped at line " + std::to_string(Index + 1) + ", left unmarked: this computer failed, not the proxy (" +
           Reason + ")";
}

std::string LocalRetryText(int Index, const std::string& Reason, int AtATime) {
    return "Line " + std::to_string(Index + 1) + " left to visit again, " + std::to_string(AtATime) +
           " at a time from now: this computer failed, not the proxy (" + Reason + ")";
}
