#pragma once

#include <cstdint>
#include <ostream>

namespace vrexa::http {

// How an HTTP exchange ended (or where it stands). Callers classify outcomes by
// these numbers and status descriptions print them as decimal integers, so the
// values are fixed and must never be renumbered.
enum class State : std::uint8_t {
    Ready = 0,           // created or reset, not yet performed
    Running = 1,         // Perform() is under way
    Succeeded = 2,       // the exchange completed without error
    Aborted = 3,         // Abort() was called while Ready or Running
    InvalidRequest = 4,  // the URL or protocol cannot be used
    ResolveError = 5,    // the proxy or host name could not be resolved
    ConnectError = 6,    // no connection could be made
    ClientError = 7,     // the server refused the resource, response code below 500
    ServerError = 8,     // the same with a response code of 500 or more
    TransmitError = 9,   // sending or receiving failed on an open connection
    WriteError = 10,     // the writer did not take the data
    RangeError = 11,     // body shorter/longer than announced, range rejected, or out of the writer's bounds
    Timeout = 12,        // a time limit expired
    OutOfMemory = 13,    // memory ran out
    OtherError = 14,     // any other failure
    SecurityError = 15,  // the TLS layer failed
};

// The state's name, for logs and test diagnostics ("Succeeded"); "State(n)" for
// a value outside the table.
const char* StateName(State state);

inline std::ostream& operator<<(std::ostream& out, State state) {
    return out << StateName(state) << '(' << static_cast<int>(state) << ')';
}

}  // namespace vrexa::http
