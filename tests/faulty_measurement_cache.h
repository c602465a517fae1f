#ifndef VESK_TESTS_FAULTY_MEASUREMENT_CACHE_H_
#define VESK_TESTS_FAULTY_MEASUREMENT_CACHE_H_

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <list>
#include <string>

#include "cache/cached_size.h"
#include "cache/entry_charge.h"
#include "cache/measurement_cache_entry.h"
#include "cache/measurement_cache_key.h"

namespace morvane::vesk {

// One way for a measurement cache to be wrong.
enum class CacheFault {
  kNone,
  kGetDoesNotRefresh,
  kChargesOneCopy,
  kLeavesAStringOutOfTheCharge,
  kRefusesAChargeEqualToTheBudget,
  kEvictsBeforeRefusingAnOversizedKey,
  kUpdateKeepsTheOldValue,
  kRemovalKeepsTheBytes,
  kHolds511Entries,
  kHolds513Entries,
  kFindMissesTheLeastRecentlyUsed,
  kEvictsEverythingWhenOverBudget,
  kRemovalLeavesTheEntry,
  // Refuses by text length alone (2 x the six lengths >= the budget),
  // forgetting the record bytes, so a key a few bytes over the budget is
  // stored.
  kRefusalForgetsTheRecordBytes,
  // Pre-checks as above, then evicts and only afterwards refuses a key whose
  // full charge exceeds the budget.
  kRefusesOnlyAfterEvicting,
};

// A deliberately simple byte-budgeted LRU cache (linear search, one list)
// that behaves correctly except for the one fault it is built with. It lets
// tests show that the behaviour checks catch each fault.
class FaultyMeasurementCache {
 public:
  using CacheEntry = MeasurementCacheEntry;
  static constexpr std::uint64_t kByteBudget = std::uint64_t{8} * 1024 * 1024;

  explicit FaultyMeasurementCache(CacheFault fault,
                                  std::string MeasurementCacheKey::*uncharged =
                                      &MeasurementCacheKey::string1)
      : fault_(fault), uncharged_(uncharged) {}

  bool get(const MeasurementCacheKey& key, CachedSize& out) {
    const auto found = find(key);
    if (found == entries_.end()) return false;
    out = found->size;
    if (fault_ != CacheFault::kGetDoesNotRefresh) toFront(found);
    return true;
  }

  void set(const MeasurementCacheKey& key, CachedSize size) {
    const std::uint64_t cost = charge(key);
    if (fault_ == CacheFault::kEvictsBeforeRefusingAnOversizedKey) {
      evictWhile([&] { return bytes_ + cost > kByteBudget; });
    }
    if (refused(cost)) return;
    if (const auto found = find(key); found != entries_.end()) {
      if (fault_ != CacheFault::kUpdateKeepsTheOldValue) found->size = size;
      toFront(found);
      return;
    }
    const std::size_t limit = fault_ == CacheFault::kHolds511Entries   ? 511
                              : fault_ == CacheFault::kHolds513Entries ? 513
                                                                       : 512;
    if (fault_ == CacheFault::kEvictsEverythingWhenOverBudget &&
        bytes_ + cost > kByteBudget) {
      clear();
    }
    evictWhile([&] {
      return entries_.size() >= limit || bytes_ + cost > kByteBudget;
    });
    if (fault_ == CacheFault::kRefusesOnlyAfterEvicting && cost > kByteBudget) {
      return;
    }
    entries_.push_front(CacheEntry{key, size});
    bytes_ += cost;
  }

  void removeMatchingMarkdown(const std::string& markdown) {
    std::erase_if(entries_, [&](const CacheEntry& entry) {
      if (entry.key.markdown != markdown) return false;
      if (fault_ != CacheFault::kRemovalKeepsTheBytes) {
        bytes_ -= charge(entry.key);
      }
      return fault_ != CacheFault::kRemovalLeavesTheEntry;
    });
  }

  void clear() {
    entries_.clear();
    bytes_ = 0;
  }
  [[nodiscard]] std::uint64_t entryCount() const { return entries_.size(); }
  template <typename Visitor>
  void forEachEntry(Visitor&& visit) const {
    for (const CacheEntry& entry : entries_) visit(entry);
  }

 private:
  using Entries = std::list<CacheEntry>;

  [[nodiscard]] std::uint64_t charge(const MeasurementCacheKey& key) const {
    std::uint64_t bytes = 280;
    for (std::string MeasurementCacheKey::*field :
         {&MeasurementCacheKey::markdown, &MeasurementCacheKey::string1,
          &MeasurementCacheKey::string2, &MeasurementCacheKey::string3,
          &MeasurementCacheKey::string4, &MeasurementCacheKey::string5}) {
      if (fault_ == CacheFault::kLeavesAStringOutOfTheCharge &&
          field == uncharged_) {
        continue;
      }
      bytes += (key.*field).size();
    }
    return fault_ == CacheFault::kChargesOneCopy ? bytes : 2 * bytes;
  }
  [[nodiscard]] bool refused(std::uint64_t cost) const {
    switch (fault_) {
      case CacheFault::kRefusesAChargeEqualToTheBudget:
        return cost >= kByteBudget;
      case CacheFault::kRefusalForgetsTheRecordBytes:
      case CacheFault::kRefusesOnlyAfterEvicting:
        return cost - 2 * kEntryOverheadBytes >= kByteBudget;
      default:
        return cost > kByteBudget;
    }
  }
  Entries::iterator find(const MeasurementCacheKey& key) {
    // The faulty search stops one entry early: it never sees the back.
    const auto last = fault_ == CacheFault::kFindMissesTheLeastRecentlyUsed &&
                              !entries_.empty()
                          ? std::prev(entries_.end())
                          : entries_.end();
    const auto found =
        std::find_if(entries_.begin(), last,
                     [&](const CacheEntry& entry) { return entry.key == key; });
    return found == last ? entries_.end() : found;
  }
  void toFront(Entries::iterator entry) {
    entries_.splice(entries_.begin(), entries_, entry);
  }
  template <typename Condition>
  void evictWhile(Condition condition) {
    while (!entries_.empty() && condition()) {
      bytes_ -= charge(entries_.back().key);
      entries_.pop_back();
    }
  }

  CacheFault fault_;
  std::string MeasurementCacheKey::*uncharged_;
  Entries entries_;
  std::uint64_t bytes_ = 0;
};

}  // namespace morvane::vesk

#endif  // VESK_TESTS_FAULTY_MEASUREMENT_CACHE_H_
