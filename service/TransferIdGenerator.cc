#include "service/TransferIdGenerator.h"

#include <boost/uuid/random_generator.hpp>
#include <boost/uuid/uuid.hpp>
#include <boost/uuid/uuid_io.hpp>

namespace vrexa {

std::string NewTransferId() {
    // The generator reads the system's entropy source; one per thread, since
    // it is not safe to share.
    thread_local boost::uuids::random_generator generator;
    std::string text = boost::uuids::to_string(generator());
    std::string id;
    id.reserve(32);
    for (char c : text)
        if (c != '-') id.push_back(c);
    return id;
}

}  // namespace vrexa
