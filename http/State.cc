#include "http/State.h"

namespace vrexa::http {

const char* StateName(State state) {
    switch (state) {
        case State::Ready:
            return "Ready";
        case State::Running:
            return "Running";
        case State::Succeeded:
            return "Succeeded";
        case State::Aborted:
            return "Aborted";
        case State::InvalidRequest:
            return "InvalidRequest";
        case State::ResolveError:
            return "ResolveError";
        case State::ConnectError:
            return "ConnectError";
        case State::ClientError:
            return "ClientError";
        case State::ServerError:
            return "ServerError";
        case State::TransmitError:
            return "TransmitError";
        case State::WriteError:
            return "WriteError";
        case State::RangeError:
            return "RangeError";
        case State::Timeout:
            return "Timeout";
        case State::OutOfMemory:
            return "OutOfMemory";
        case State::OtherError:
            return "OtherError";
        case State::SecurityError:
            return "SecurityError";
    }
    return "State";
}

}  // namespace vrexa::http
