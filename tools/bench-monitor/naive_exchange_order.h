#pragma once
// The exchange sort exactly as the monitor describes it, on original indices: the oracle
// that ExchangeSortOrder is checked against (the listing test, bench-monitor).  Quadratic:
// for the sizes those checks take.
#include <cstddef>
#include <utility>
#include <vector>

inline std::vector<int> NaiveExchangeOrder(std::vector<double> times) {
    std::vector<int> order(times.size());
    for (size_t i = 0; i < order.size(); ++i)
        order[i] = static_cast<int>(i);
    for (size_t i = 0; i < times.size(); ++i)
        for (size_t j = i + 1; j < times.size(); ++j)
            if (times[i] > times[j]) {
                std::swap(times[i], times[j]);
                std::swap(order[i], order[j]);
            }
    return order;
}
