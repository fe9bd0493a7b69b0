#include "work/Work.h"

#include <boost/property_tree/ptree.hpp>

#include "work/CompositeWork.h"
#include "work/WorkCompleteCallback.h"
#include "work/Workflow.h"

namespace vrexa {

Work::Work(WorkCompleteCallback* callback) {
    if (callback != nullptr) {
        completeCallbacks_.push_back(callback);
    }
}

void Work::Describe(boost::property_tree::ptree&) const {}

bool Work::ShouldRetry() { return false; }

void Work::Describe(const WorkStatus& status, boost::property_tree::ptree& tree) const {
    Describe(tree);
    boost::property_tree::ptree statusTree;
    status.Describe(statusTree);
    tree.add_child("workStatus", statusTree);
}

void Work::SetParent(std::weak_ptr<CompositeWork> newParent) { parent_ = std::move(newParent); }

void Work::SetWorkflow(std::weak_ptr<Workflow> newWorkflow) {
    workflow_ = newWorkflow;
    OnSetWorkflow(std::move(newWorkflow));
}

void Work::AddCompleteCallback(WorkCompleteCallback* callback) {
    if (callback != nullptr) {
        completeCallbacks_.push_back(callback);
    }
}

void Work::NotifyComplete(const WorkStatus& status) {
    const std::shared_ptr<Work> self = GetSharedPtr();
    if (const std::shared_ptr<Workflow> locked = workflow_.lock()) {
        locked->OnWorkComplete(self, status);
    }
    for (WorkCompleteCallback* callback : completeCallbacks_) {
        callback->OnWorkComplete(self, status);
    }
    if (const std::shared_ptr<CompositeWork> locked = parent_.lock()) {
        locked->OnWorkComplete(self, status);
    }
}

}  // namespace vrexa
