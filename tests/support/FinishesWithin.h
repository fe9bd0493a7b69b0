#pragma once

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <future>
#include <memory>
#include <thread>

#include <gtest/gtest.h>

namespace vrexa::testsupport {

// Runs body on a thread of its own and fails the test when it has not
// returned by the deadline. A call stuck for good (an endless loop, an open
// that never returns) can be neither joined nor destroyed, so the process
// ends there rather than hanging the suite.
inline void FinishesWithin(std::chrono::seconds deadline, const std::function<void()>& body) {
    auto done = std::make_shared<std::promise<void>>();
    std::future<void> finished = done->get_future();
    std::thread([done, body] {
        body();
        done->set_value();
    }).detach();
    if (finished.wait_for(deadline) != std::future_status::ready) {
        ADD_FAILURE() << "still running after " << deadline.count() << " s";
        std::fflush(nullptr);
        std::_Exit(1);
    }
}

}  // namespace vrexa::testsupport
