#ifndef VESK_CACHE_CAPACITY_CURVE_H_
#define VESK_CACHE_CAPACITY_CURVE_H_

#include <cstddef>
#include <cstdint>
#include <vector>

#include "export.h"
#include "hashed_key_map.h"
#include "measurement_cache_key.h"

namespace morvane::vesk {

// How many lookups a MeasurementCache would have answered at every entry
// limit and at each of a chosen list of byte budgets, counted exactly in one
// pass over the accesses a program made.
//
// Why one pass suffices: a cache that is never asked to remove anything holds
// the longest prefix of its recency order that fits both limits, because it
// evicts least recently used entries only until a new key fits, and a key
// whose entryCharge exceeds the byte budget is refused and never enters the
// order. A lookup therefore hits at (maxEntries N, byteBudget B) exactly when
// its key was used before, its charge c is at most B, and the distinct keys
// of charge at most B used since that previous use number at most N - 1 and
// together with the key charge at most B - c.
//
// The curve is a separate object the caller feeds: the cache's own calls pay
// nothing for it. Record every access of the cache being modelled, in the
// order the cache saw them, from a cache that starts empty (or just after
// recordClear()). removeMatchingMarkdown() is not modelled (it breaks the
// prefix property); setLimits() needs nothing recorded, since each point of
// the curve is a cache whose limits never change.
//
// Keys are compared as the cache compares them: a key holding a NaN equals
// no key, so each of its accesses is a new key, as it is to the cache.
//
// Thread safety: none. Concurrent const calls are safe; anything else must be
// serialised by the caller.
//
// Ownership and memory: the curve keeps its own copy of every distinct key
// whose charge is at most the largest budget (keys above every budget are
// never stored), and bookkeeping that grows with both the keys K it stores
// and the budgets B it was built with: about 100 + 64 * B bytes per key held
// for as long as the curve lives, up to 100 + 96 * B bytes while it
// renumbers its positions (a count and a byte total per position and per
// budget whose charge class holds keys, positions numbering up to twice the
// keys, plus a histogram per budget of 8 bytes per reuse distance seen).
// Measured with 20,000 keys spread over every budget's class: 77 MB at 32
// budgets, 137 MB at 64, 957 MB at 500. Hence at most kMaxByteBudgets
// budgets, which bounds the bookkeeping to about 3 KB per key (60 MB at
// 20,000 keys, 400 MB at 131,072).
//
// Failures: allocation failure propagates from the record calls as
// std::bad_alloc, and every answer of the curve stays what it was before the
// call (the call is as if it was not made).
//
// Complexity: a record call hashes the key once and costs O(log K) for each
// charge class holding keys (the keys between two consecutive budgets; with
// keys smaller than the smallest budget, one), plus O(1) per budget,
// amortised over the occasional renumbering of positions: O(B log K) at
// worst, measured at about 1 us plus 0.1 us per budget with 20,000 keys
// (3.6 us at 32 budgets). hits() is linear in min(maxEntries, K).
class CapacityCurve {
 public:
  // The most distinct byte budgets a curve takes (see the cost above).
  static constexpr std::size_t kMaxByteBudgets = 32;

  // A curve over the byte budgets `byteBudgets`, in any order, repeats
  // ignored. Throws std::invalid_argument for an empty list or one of more
  // than kMaxByteBudgets distinct budgets.
  VESK_EXPORT explicit CapacityCurve(std::vector<std::uint64_t> byteBudgets);
  // Not copyable: its positions refer to its own key copies. A moved-from
  // curve may only be destroyed or assigned to.
  CapacityCurve(const CapacityCurve&) = delete;
  CapacityCurve& operator=(const CapacityCurve&) = delete;
  CapacityCurve(CapacityCurve&&) = default;
  CapacityCurve& operator=(CapacityCurve&&) = default;
  ~CapacityCurve() = default;

  // A lookup that stores the key when it misses: getOrMeasure(key, ...), or
  // get(key) followed on a miss by set(key, ...).
  VESK_EXPORT void recordLookup(const MeasurementCacheKey& key);

  // A set(key, ...) of its own, not part of a lookup: the key becomes the
  // most recently used, inserted when absent. Counts no lookup.
  VESK_EXPORT void recordUpdate(const MeasurementCacheKey& key);

  // A clear(): nothing is stored any more. The counts recorded so far stay.
  VESK_EXPORT void recordClear() noexcept;

  // The lookups recorded.
  [[nodiscard]] std::uint64_t lookups() const noexcept { return lookups_; }

  // The recorded lookups that hit in a cache of at most `maxEntries` entries
  // and `byteBudget` accounted bytes. `byteBudget` must be one of the
  // budgets given to the constructor: std::invalid_argument otherwise.
  [[nodiscard]] VESK_EXPORT std::uint64_t hits(std::size_t maxEntries,
                                               std::uint64_t byteBudget) const;

  // The budgets of the curve, ascending, without repeats.
  [[nodiscard]] const std::vector<std::uint64_t>& byteBudgets() const noexcept {
    return budgets_;
  }

  // Distinct keys recorded since construction or the last recordClear(),
  // not counting those above every budget.
  [[nodiscard]] std::size_t distinctKeys() const noexcept {
    return keys_.size();
  }

 private:
  struct Recency {
    std::size_t position = 0;  // of the key's last use
    std::uint64_t charge = 0;  // entryCharge of the key
    std::size_t chargeClass = 0;
  };
  // Keys found as the cache finds them, with hashes computed once.
  using KeyMap = detail::HashedKeyMap<Recency>;

  // Count and total charge of the keys whose last use lies in some range of
  // positions.
  struct Load {
    std::uint64_t keys = 0;
    std::uint64_t bytes = 0;
  };
  // A Fenwick tree of Loads over the positions, for the keys of one charge
  // class; empty (no storage) until the class gets a key.
  struct ClassTree {
    std::vector<Load> nodes;  // 1-based; nodes[0] unused
    Load total;
  };

  void record(const MeasurementCacheKey& key, bool lookup);
  // Renumbers the live positions 0.. in order, into room for at least as
  // many accesses again. Changes no answer; strong guarantee.
  void compactPositions();
  void addAt(ClassTree& tree, std::size_t position, Load load) noexcept;
  void removeAt(ClassTree& tree, std::size_t position, Load load) noexcept;
  [[nodiscard]] static Load loadThrough(const ClassTree& tree,
                                        std::size_t position) noexcept;

  std::vector<std::uint64_t> budgets_;  // ascending
  // classes_[j]: keys of charge in (budgets_[j-1], budgets_[j]].
  std::vector<ClassTree> classes_;
  // hitsAtDistance_[i][d]: lookups that hit at budget i at every entry limit
  // above d, and at none at or below it.
  std::vector<std::vector<std::uint64_t>> hitsAtDistance_;
  // Scratch of one lookup, per budget: the distance it hits at, if any.
  std::vector<std::size_t> hitDistance_;
  KeyMap keys_;
  // owners_[p]: the key last used at position p, or null once it moved on.
  std::vector<Recency*> owners_;
  std::size_t nextPosition_ = 0;
  std::uint64_t lookups_ = 0;
};

}  // namespace morvane::vesk

#endif  // VESK_CACHE_CAPACITY_CURVE_H_
