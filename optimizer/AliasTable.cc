#include "optimizer/AliasTable.h"

#include <cmath>
#include <stdexcept>

#include <boost/random/uniform_01.hpp>
#include <boost/random/uniform_int_distribution.hpp>

namespace vrexa {

AliasTable::AliasTable(const std::vector<double>& weights) {
    const std::size_t n = weights.size();
    double sum = 0.0;
    for (double weight : weights) {
        if (!(weight >= 0.0) || !std::isfinite(weight)) {
            throw std::invalid_argument("AliasTable requires finite, non-negative weights");
        }
        sum += weight;
    }
    if (n == 0 || !(sum > 0.0) || !std::isfinite(sum)) {
        throw std::invalid_argument("AliasTable requires weights with a positive, finite sum");
    }

    // Scale so the average is 1, then pair each position below 1 with one at or
    // above 1 that tops it up.
    probability_.resize(n);
    alias_.resize(n);
    std::vector<double> scaled(n);
    std::vector<std::size_t> small;
    std::vector<std::size_t> large;
    for (std::size_t i = 0; i < n; ++i) {
        scaled[i] = weights[i] * static_cast<double>(n) / sum;
        (scaled[i] < 1.0 ? small : large).push_back(i);
    }
    while (!small.empty() && !large.empty()) {
        const std::size_t less = small.back();
        small.pop_back();
        const std::size_t more = large.back();
        large.pop_back();
        probability_[less] = scaled[less];
        alias_[less] = more;
        scaled[more] = (scaled[more] + scaled[less]) - 1.0;
        (scaled[more] < 1.0 ? small : large).push_back(more);
    }
    // What is left is 1 up to rounding: those positions always stand for themselves.
    for (std::size_t i : large) {
        probability_[i] = 1.0;
        alias_[i] = i;
    }
    for (std::size_t i : small) {
        probability_[i] = 1.0;
        alias_[i] = i;
    }
}

std::size_t AliasTable::Draw(RandomEngine& engine) const {
    const double test = boost::random::uniform_01<double>()(engine);
    const std::size_t position =
        boost::random::uniform_int_distribution<std::size_t>(0, probability_.size() - 1)(engine);
    return test < probability_[position] ? position : alias_[position];
}

}  // namespace vrexa
