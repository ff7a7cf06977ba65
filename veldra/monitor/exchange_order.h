#pragma once
#include <vector>

// The order in which this exchange sort leaves the entries:
//   for i = 0 .. n-1: for j = i+1 .. n-1: if times[i] > times[j] then swap i and j
// as original indices, first to last.  Entries with equal times end in the exact order
// that procedure gives (it is not a stable sort), but in O(n log n) instead of O(n^2).
std::vector<int> ExchangeSortOrder(const std::vector<double>& times);
