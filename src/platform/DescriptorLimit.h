#pragma once
// The process's limit of open descriptors, raised for a run of many visits at once: each worker of such
// a run holds a few (its queue's, its socket), and a desktop session's usual soft limit of 1024 would
// stop a run of a few hundred at a time.
namespace platform {

// Raises the soft limit to the hard one, but not beyond 65536: a socket handle must fit 16 bits.
// Best effort; the limit stays as it was when it cannot be raised.
void RaiseDescriptorLimit();

} // namespace platform
