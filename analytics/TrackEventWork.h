#pragma once

#include <boost/property_tree/ptree.hpp>

#include "work/SimpleWork.h"

namespace vrexa {

// One event document on its way out: whoever raises the event fills the tree,
// then hands the work to its event manager. The kind says where the document
// goes (an analytics endpoint, a class of log record).
class TrackEventWork : public SimpleWork {
public:
    explicit TrackEventWork(int kind) : kind_(kind) {}

    int GetKind() const { return kind_; }
    boost::property_tree::ptree& GetTree() { return tree_; }
    const boost::property_tree::ptree& GetTree() const { return tree_; }

private:
    const int kind_;
    boost::property_tree::ptree tree_;
};

// The document goes nowhere.
class NullTrackEventWork : public TrackEventWork {
public:
    using TrackEventWork::TrackEventWork;

    void Describe(boost::property_tree::ptree& tree) const override;
    WorkStatus ExecuteTask() override;
    void OnCancel() override {}
};

}  // namespace vrexa
