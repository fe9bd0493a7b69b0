// The run loop's handler completion ends in a memory fence, which GCC's thread
// sanitizer build refuses to compile by default; the scheduler's own locks
// already order the handlers, so the fence hides nothing the sanitizer should see.
#if defined(__GNUC__) && !defined(__clang__) && __GNUC__ >= 12
#pragma GCC diagnostic ignored "-Wtsan"
#endif

#include "work/AsioWorkManager.h"

#include <boost/asio/post.hpp>

namespace vrexa {

AsioWorkManager::AsioWorkManager(unsigned threadCount, bool finishPendingOnShutdown)
    : service(1), threadCount(threadCount), finishPendingOnShutdown(finishPendingOnShutdown) {
    guard.emplace(boost::asio::make_work_guard(service));
    for (unsigned i = 0; i < threadCount; ++i) {
        threads.create_thread([this] { service.run(); });
    }
}

AsioWorkManager::~AsioWorkManager() {
    if (finishPendingOnShutdown) {
        Drain();
    } else {
        service.stop();
        threads.join_all();
    }
}

void AsioWorkManager::Drain() {
    guard.reset();
    threads.join_all();
}

void AsioWorkManager::Post(std::function<void()> job) {
    boost::asio::post(service, [job = std::move(job)] {
        // An escaping exception would end the worker thread's run loop, so a
        // failing job is dropped instead.
        try {
            job();
        } catch (...) {
        }
    });
}

void AsioWorkManager::Post(std::shared_ptr<SimpleWork> work) {
    boost::asio::post(service, [work = std::move(work)] { RunSimpleWork(work); });
}

void AsioWorkManager::Post(std::shared_ptr<Workflow> workflow, std::shared_ptr<SimpleWork> work) {
    boost::asio::post(service,
                      [workflow = std::move(workflow), work = std::move(work)] { RunWorkflowWork(workflow, work); });
}

}  // namespace vrexa
