#pragma once

namespace qeltest {

// Writing to a connection the peer closed (a dropped mock reply, a server
// process that died) must be an error code, not a signal that kills the
// test. Idempotent. Child processes get SIGPIPE back at its default.
void ignore_sigpipe();

}  // namespace qeltest
