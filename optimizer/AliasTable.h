#pragma once

#include <cstddef>
#include <vector>

#include "optimizer/NodeShares.h"

namespace vrexa {

// Draws a position with probability proportional to its weight in constant
// time (the alias method): each position keeps the probability of being taken
// as itself and the position that stands in for it otherwise.
class AliasTable {
public:
    // Throws std::invalid_argument when weights is empty, holds a negative or
    // non-finite value, or sums to zero.
    explicit AliasTable(const std::vector<double>& weights);

    // A uniform value in [0, 1) is drawn first, then a uniform position; the
    // position is kept when the value is below its probability, else its alias
    // is taken.
    std::size_t Draw(RandomEngine& engine) const;

    std::size_t Size() const { return probability_.size(); }
    double Probability(std::size_t position) const { return probability_[position]; }
    std::size_t Alias(std::size_t position) const { return alias_[position]; }

private:
    std::vector<double> probability_;
    std::vector<std::size_t> alias_;
};

}  // namespace vrexa
