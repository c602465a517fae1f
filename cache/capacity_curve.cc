#include "capacity_curve.h"

#include <algorithm>
#include <stdexcept>
#include <string>
#include <utility>

#include "entry_charge.h"
#include "measurement_cache_key_hash.h"

namespace morvane::vesk {
namespace {

// Positions a fresh or cleared curve makes room for before it first
// renumbers them.
constexpr std::size_t kMinimumPositions = 1024;

// hitDistance_'s mark of a budget at which the lookup misses.
constexpr std::size_t kNoHit = static_cast<std::size_t>(-1);

constexpr std::size_t lowestBit(std::size_t i) noexcept { return i & (~i + 1); }

}  // namespace

CapacityCurve::CapacityCurve(std::vector<std::uint64_t> byteBudgets)
    : budgets_(std::move(byteBudgets)) {
  if (budgets_.empty()) {
    throw std::invalid_argument("CapacityCurve: no byte budget");
  }
  std::sort(budgets_.begin(), budgets_.end());
  budgets_.erase(std::unique(budgets_.begin(), budgets_.end()), budgets_.end());
  if (budgets_.size() > kMaxByteBudgets) {
    // Every budget adds bookkeeping per key held and work per lookup.
    throw std::invalid_argument("CapacityCurve: more than " +
                                std::to_string(kMaxByteBudgets) +
                                " distinct byte budgets");
  }
  classes_.resize(budgets_.size());
  hitsAtDistance_.resize(budgets_.size());
  hitDistance_.resize(budgets_.size());
  owners_.assign(kMinimumPositions, nullptr);
}

void CapacityCurve::recordLookup(const MeasurementCacheKey& key) {
  record(key, true);
}

void CapacityCurve::recordUpdate(const MeasurementCacheKey& key) {
  record(key, false);
}

void CapacityCurve::recordClear() noexcept {
  keys_.clear();
  std::fill(owners_.begin(), owners_.end(), nullptr);
  for (ClassTree& tree : classes_) {
    std::fill(tree.nodes.begin(), tree.nodes.end(), Load{});
    tree.total = Load{};
  }
  nextPosition_ = 0;
}

std::uint64_t CapacityCurve::hits(std::size_t maxEntries,
                                  std::uint64_t byteBudget) const {
  const auto found =
      std::lower_bound(budgets_.begin(), budgets_.end(), byteBudget);
  if (found == budgets_.end() || *found != byteBudget) {
    throw std::invalid_argument(
        "CapacityCurve::hits: not one of the curve's byte budgets");
  }
  const std::vector<std::uint64_t>& histogram =
      hitsAtDistance_[static_cast<std::size_t>(found - budgets_.begin())];
  const std::size_t end = std::min(maxEntries, histogram.size());
  std::uint64_t sum = 0;
  for (std::size_t d = 0; d < end; ++d) sum += histogram[d];
  return sum;
}

void CapacityCurve::record(const MeasurementCacheKey& key, bool lookup) {
  const std::uint64_t charge = entryCharge(key);
  const auto firstFitting =
      std::lower_bound(budgets_.begin(), budgets_.end(), charge);
  if (firstFitting == budgets_.end()) {
    // Refused at every budget: never stored, so never a hit and never in
    // anybody's way.
    if (lookup) ++lookups_;
    return;
  }
  const auto keyClass =
      static_cast<std::size_t>(firstFitting - budgets_.begin());
  const std::uint64_t hash = MeasurementCacheKeyHash{}(key);

  if (nextPosition_ == owners_.size()) compactPositions();
  const std::size_t now = nextPosition_;
  const Load own{1, charge};

  const auto stored = keys_.find(detail::HashedKey{key, hash});
  if (stored == keys_.end()) {
    // First use: a miss at every size. Only the insertion can throw, and
    // nothing has changed before it.
    const auto inserted = keys_
                              .emplace(detail::StoredHashedKey{key, hash},
                                       Recency{now, charge, keyClass})
                              .first;
    ClassTree& tree = classes_[keyClass];
    if (tree.nodes.empty()) {
      try {
        tree.nodes.assign(owners_.size() + 1, Load{});
      } catch (...) {
        keys_.erase(inserted);
        throw;
      }
    }
    addAt(tree, now, own);
    owners_[now] = &inserted->second;
    ++nextPosition_;
    if (lookup) ++lookups_;
    return;
  }

  Recency& recency = stored->second;
  if (lookup) {
    // The keys used since this one, class by class, accumulated so that at
    // budget i they cover every class up to i: the keys that budget holds.
    // First each budget's verdict, growing the histograms it needs (zeros,
    // so a throw there changes no answer), then the counts.
    Load since;
    for (std::size_t i = 0; i < budgets_.size(); ++i) {
      const ClassTree& tree = classes_[i];
      if (!tree.nodes.empty()) {
        const Load through = loadThrough(tree, recency.position);
        since.keys += tree.total.keys - through.keys;
        since.bytes += tree.total.bytes - through.bytes;
      }
      const bool fits = i >= keyClass && since.bytes <= budgets_[i] - charge;
      hitDistance_[i] = fits ? since.keys : kNoHit;
      std::vector<std::uint64_t>& histogram = hitsAtDistance_[i];
      if (fits && histogram.size() <= since.keys) {
        histogram.resize(since.keys + 1, 0);
      }
    }
    for (std::size_t i = 0; i < budgets_.size(); ++i) {
      if (hitDistance_[i] != kNoHit) ++hitsAtDistance_[i][hitDistance_[i]];
    }
    ++lookups_;
  }
  ClassTree& tree = classes_[keyClass];
  removeAt(tree, recency.position, own);
  owners_[recency.position] = nullptr;
  recency.position = now;
  addAt(tree, now, own);
  owners_[now] = &recency;
  ++nextPosition_;
}

void CapacityCurve::compactPositions() {
  const std::size_t live = keys_.size();
  const std::size_t size = std::max(kMinimumPositions, 2 * live);
  std::vector<Recency*> owners(size, nullptr);
  std::vector<ClassTree> classes(classes_.size());
  for (std::size_t c = 0; c < classes_.size(); ++c) {
    if (!classes_[c].nodes.empty()) classes[c].nodes.assign(size + 1, Load{});
  }
  // Nothing below throws: the renumbering is done in the new arrays, then
  // the positions move.
  std::size_t next = 0;
  for (Recency* owner : owners_) {
    if (owner == nullptr) continue;
    owners[next] = owner;
    ClassTree& tree = classes[owner->chargeClass];
    tree.nodes[next + 1] = Load{1, owner->charge};
    tree.total.keys += 1;
    tree.total.bytes += owner->charge;
    ++next;
  }
  // Fenwick trees built in linear time: each node adds itself to its parent.
  for (ClassTree& tree : classes) {
    const std::size_t n = tree.nodes.size();
    for (std::size_t i = 1; i < n; ++i) {
      const std::size_t parent = i + lowestBit(i);
      if (parent < n) {
        tree.nodes[parent].keys += tree.nodes[i].keys;
        tree.nodes[parent].bytes += tree.nodes[i].bytes;
      }
    }
  }
  for (std::size_t p = 0; p < next; ++p) owners[p]->position = p;
  owners_ = std::move(owners);
  classes_ = std::move(classes);
  nextPosition_ = next;
}

void CapacityCurve::addAt(ClassTree& tree, std::size_t position,
                          Load load) noexcept {
  for (std::size_t i = position + 1; i < tree.nodes.size(); i += lowestBit(i)) {
    tree.nodes[i].keys += load.keys;
    tree.nodes[i].bytes += load.bytes;
  }
  tree.total.keys += load.keys;
  tree.total.bytes += load.bytes;
}

void CapacityCurve::removeAt(ClassTree& tree, std::size_t position,
                             Load load) noexcept {
  for (std::size_t i = position + 1; i < tree.nodes.size(); i += lowestBit(i)) {
    tree.nodes[i].keys -= load.keys;
    tree.nodes[i].bytes -= load.bytes;
  }
  tree.total.keys -= load.keys;
  tree.total.bytes -= load.bytes;
}

CapacityCurve::Load CapacityCurve::loadThrough(const ClassTree& tree,
                                               std::size_t position) noexcept {
  Load sum;
  for (std::size_t i = position + 1; i > 0; i -= lowestBit(i)) {
    sum.keys += tree.nodes[i].keys;
    sum.bytes += tree.nodes[i].bytes;
  }
  return sum;
}

}  // namespace morvane::vesk
