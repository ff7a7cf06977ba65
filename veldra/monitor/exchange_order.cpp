#include "veldra/monitor/exchange_order.h"

#include <algorithm>
#include <numeric>

// Why this gives the exchange sort's order.
//
// Pass i of the exchange sort carries the entry at slot i rightwards: whenever a strictly
// smaller time turns up at slot j, the carried entry is dropped into slot j and the smaller
// one is carried on; the last one carried lands in slot i.  Look at one time value x and
// call "small" every entry with a time below x.  Then:
//  - Small slots: pass i turns the first small slot at or after i, q_i, into a large one
//    and outputs a small entry at slot i.  So q_i is simply the i-th smallest original slot
//    among the K small entries, for the passes i = 0 .. K-1 that output them.
//  - The x entries: only the one in the lowest slot f can move (a later equal entry is
//    never picked up past an earlier one).  It moves exactly when f < q_i, and then into
//    slot q_i.  After the K small passes the x entries leave in their slot order.
// Once an x entry has moved, every later pass moves one (the moved ones sit below q_i),
// so the moved entries form a queue: each pass takes the x entry in the lowest slot -
// the queue's front or the lowest unmoved one - and puts it into slot q_i behind all
// others.  The queue therefore holds the entries moved in the last |queue| passes; an
// unmoved entry in slot m joins at the first pass p with p >= rank(m) + |queue|, where
// rank(m) counts small slots below m.  Between joins the queue only rotates, so its final
// order follows from the join passes by undoing the rotations backwards with an order-
// statistics tree.  Each group costs O(g log n); all groups together O(n log n).

namespace {

// Counts of marked positions 0..n-1 with rank and select in O(log n).
class CountTree {
  public:
    explicit CountTree(int size, bool allMarked = false)
        : tree_(static_cast<size_t>(size) + 1, 0), size_(size) {
        while (top_ * 2 <= size_)
            top_ *= 2;
        if (allMarked) {
            for (int i = 1; i <= size_; ++i)
                tree_[static_cast<size_t>(i)] = i & -i;
        }
    }
    void Add(int position, int delta) {
        for (int i = position + 1; i <= size_; i += i & -i)
            tree_[static_cast<size_t>(i)] += delta;
    }
    // Marked positions below position.
    int CountBelow(int position) const {
        int sum = 0;
        for (int i = position; i > 0; i -= i & -i)
            sum += tree_[static_cast<size_t>(i)];
        return sum;
    }
    // The position of the marked entry with the given 0-based rank.
    int Select(int rank) const {
        int position = 0;
        for (int step = top_; step > 0; step /= 2) {
            const int next = position + step;
            if (next <= size_ && tree_[static_cast<size_t>(next)] <= rank) {
                position = next;
                rank -= tree_[static_cast<size_t>(next)];
            }
        }
        return position; // 1-based index of the last prefix below rank, i.e. 0-based answer
    }

  private:
    std::vector<int> tree_;
    int size_;
    int top_ = 1;
};

int Modulo(long value, int modulus) {
    const long rest = value % modulus;
    return static_cast<int>(rest < 0 ? rest + modulus : rest);
}

// Arranges one group of equal times (original slots ascending in members) as the exchange
// sort leaves it, given the tree of the slots of all smaller times (small count K).
void ArrangeGroup(std::vector<int>& members, const CountTree& smaller, int smallCount) {
    const int g = static_cast<int>(members.size());
    std::vector<int> rank(static_cast<size_t>(g));
    for (int k = 0; k < g; ++k)
        rank[static_cast<size_t>(k)] = smaller.CountBelow(members[static_cast<size_t>(k)]);

    // The pass at which each unmoved entry joins the queue (queue size k before it joins).
    std::vector<long> joinPass;
    long previous = -1;
    for (int k = 0; k < g; ++k) {
        const long pass =
            std::max(previous + 1, static_cast<long>(rank[static_cast<size_t>(k)]) + k);
        if (pass > smallCount - 1)
            break;
        joinPass.push_back(pass);
        previous = pass;
    }
    const int moved = static_cast<int>(joinPass.size());
    if (moved == 0)
        return;

    // The queue after the last pass, front (lowest slot) first, by undoing the rotations.
    // The list of size k is read as the free final places in rank order, starting at rank
    // start and wrapping around.
    std::vector<int> queue(static_cast<size_t>(moved));
    CountTree freePlaces(moved, true);
    int start = Modulo(-(static_cast<long>(smallCount) - 1 - joinPass.back()), moved);
    for (int k = moved; k >= 1; --k) {
        // The entry that joined last sits at the back of the list of size k.
        const int place = freePlaces.Select((start + k - 1) % k);
        freePlaces.Add(place, -1);
        queue[static_cast<size_t>(place)] = members[static_cast<size_t>(k - 1)];
        start = start >= 1 ? start - 1 : 0;
        if (k >= 2) {
            const long rotations =
                joinPass[static_cast<size_t>(k - 1)] - joinPass[static_cast<size_t>(k - 2)] - 1;
            start = Modulo(start - rotations, k - 1);
        }
    }

    // The queue holds slots q_(K-moved) .. q_(K-1); entries that never moved keep their own
    // slot m, which lies above q_j exactly when j < rank(m).
    std::vector<int> arranged;
    arranged.reserve(static_cast<size_t>(g));
    int next = 0;
    for (int k = moved; k < g; ++k) {
        while (next < moved && smallCount - moved + next < rank[static_cast<size_t>(k)])
            arranged.push_back(queue[static_cast<size_t>(next++)]);
        arranged.push_back(members[static_cast<size_t>(k)]);
    }
    while (next < moved)
        arranged.push_back(queue[static_cast<size_t>(next++)]);
    members.swap(arranged);
}

} // namespace

std::vector<int> ExchangeSortOrder(const std::vector<double>& times) {
    const int n = static_cast<int>(times.size());
    std::vector<int> byTime(static_cast<size_t>(n));
    std::iota(byTime.begin(), byTime.end(), 0);
    std::stable_sort(byTime.begin(), byTime.end(), [&times](int a, int b) {
        return times[static_cast<size_t>(a)] < times[static_cast<size_t>(b)];
    });

    std::vector<int> order;
    order.reserve(static_cast<size_t>(n));
    CountTree smaller(n);
    int smallCount = 0;
    std::vector<int> members;
    for (int first = 0; first < n;) {
        int last = first + 1;
        while (last < n && times[static_cast<size_t>(byTime[static_cast<size_t>(last)])] ==
                               times[static_cast<size_t>(byTime[static_cast<size_t>(first)])])
            ++last;
        members.assign(byTime.begin() + first, byTime.begin() + last);
        if (members.size() >= 2 && smallCount > 0)
            ArrangeGroup(members, smaller, smallCount);
        order.insert(order.end(), members.begin(), members.end());
        for (int member : members)
            smaller.Add(member, 1);
        smallCount += last - first;
        first = last;
    }
    return order;
}
