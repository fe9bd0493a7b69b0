// The run loop's handler completion ends in a memory fence, which GCC's thread
// sanitizer build refuses to compile by default; the scheduler's own locks
// already order the handlers, so the fence hides nothing the sanitizer should see.
#if defined(__GNUC__) && !defined(__clang__) && __GNUC__ >= 12
#pragma GCC diagnostic ignored "-Wtsan"
#endif

#include "work/AsioWorkManager.h"

#include <boost/asio/post.hpp>

namespace vrexa {

// The hint must say "many threads": with a hint of 1 the service keeps a job
// posted from one of its own threads in that thread's private queue and wakes
// no other, so once works start dispatching each other everything would run
// on one thread.
AsioWorkManager::AsioWorkManager(unsigned threadCount, bool finishPendingOnShutdown)
    : service_(BOOST_ASIO_CONCURRENCY_HINT_SAFE),
      threadCount_(threadCount),
      finishPendingOnShutdown_(finishPendingOnShutdown) {
    guard_.emplace(boost::asio::make_work_guard(service_));
    for (unsigned i = 0; i < threadCount; ++i) {
        threads_.create_thread([this] { service_.run(); });
    }
}

AsioWorkManager::~AsioWorkManager() {
    if (finishPendingOnShutdown_) {
        Drain();
    } else {
        service_.stop();
        threads_.join_all();
    }
}

void AsioWorkManager::Drain() {
    guard_.reset();
    threads_.join_all();
}

void AsioWorkManager::Post(std::function<void()> job) {
    boost::asio::post(service_, [job = std::move(job)] {
        // An escaping exception would end the worker thread's run loop, so a
        // failing job is dropped instead.
        try {
            job();
        } catch (...) {
        }
    });
}

void AsioWorkManager::Post(std::shared_ptr<SimpleWork> work) {
    boost::asio::post(service_, [work = std::move(work)] { RunSimpleWork(work); });
}

void AsioWorkManager::Post(std::shared_ptr<Workflow> workflow, std::shared_ptr<SimpleWork> work) {
    boost::asio::post(service_,
                      [workflow = std::move(workflow), work = std::move(work)] { RunWorkflowWork(workflow, work); });
}

}  // namespace vrexa
