#pragma once

#include <memory>
#include <optional>

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/thread/thread.hpp>

#include "work/WorkManager.h"

namespace vrexa {

// A work manager on an asio I/O service with threadCount threads running its
// loop. A count of 0 starts no thread: jobs posted to it never run.
class AsioWorkManager : public WorkManager {
public:
    AsioWorkManager(unsigned threadCount, bool finishPendingOnShutdown);
    // With finishPendingOnShutdown, Drain; otherwise jobs not yet started are
    // dropped and running ones finish.
    ~AsioWorkManager() override;

    void Post(std::function<void()> job) override;
    void Post(std::shared_ptr<SimpleWork> work) override;
    void Post(std::shared_ptr<Workflow> workflow, std::shared_ptr<SimpleWork> work) override;

    // Runs every job already posted, then joins the threads. Jobs posted
    // afterwards never run.
    void Drain();

    unsigned GetThreadCount() const { return threadCount_; }
    // True once the run loops were told to stop, which only the destructor of
    // a manager that drops pending jobs does.
    bool IsStopped() const { return service_.stopped(); }

private:
    boost::asio::io_context service_;
    std::optional<boost::asio::executor_work_guard<boost::asio::io_context::executor_type>> guard_;
    boost::thread_group threads_;
    const unsigned threadCount_;
    const bool finishPendingOnShutdown_;
};

}  // namespace vrexa
