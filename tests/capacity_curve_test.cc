// The capacity curve against real caches: every sequence of accesses is
// replayed through a MeasurementCache at each size of the grid, and the
// curve must give the hits those caches counted, exactly.

#include "cache/capacity_curve.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "cache/entry_charge.h"
#include "cache/measurement_cache.h"
#include "cache/measurement_cache_limits.h"

namespace morvane::vesk {
namespace {

constexpr std::uint64_t kKiB = 1024;
constexpr std::uint64_t kMiB = 1024 * kKiB;

// The markdown length that makes a key of `charge` bytes.
std::size_t lengthCharged(std::uint64_t charge) {
  return static_cast<std::size_t>(charge / 2 - kEntryOverheadBytes);
}

enum class Access : std::uint8_t { kLookup, kUpdate, kClear };

struct Step {
  Access access = Access::kLookup;
  std::size_t key = 0;  // into Sequence::keys
};

struct Sequence {
  std::vector<MeasurementCacheKey> keys;
  std::vector<Step> steps;
};

// A key of `length` bytes of markdown, told apart from the others by `id`.
MeasurementCacheKey makeKey(std::size_t id, std::size_t length) {
  MeasurementCacheKey key{};
  key.markdown = std::to_string(id) + ":";
  key.markdown.resize(std::max(length, key.markdown.size()), 'x');
  key.unsigned1 = id;
  return key;
}

// `count` keys of random lengths in [shortest, longest], looked up `steps`
// times with repeats skewed towards a few keys (so that every distance
// occurs), and with updates of stored and absent keys at `updateShare`.
Sequence randomSequence(std::uint32_t seed, std::size_t count,
                        std::size_t shortest, std::size_t longest,
                        std::size_t steps, double updateShare) {
  std::mt19937 random(seed);
  Sequence sequence;
  std::uniform_int_distribution<std::size_t> length(shortest, longest);
  for (std::size_t k = 0; k < count; ++k) {
    sequence.keys.push_back(makeKey(k, length(random)));
  }
  // The square of a uniform draw favours small indices.
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  for (std::size_t s = 0; s < steps; ++s) {
    const double u = unit(random);
    const auto key =
        static_cast<std::size_t>(u * u * static_cast<double>(count));
    const Access access =
        unit(random) < updateShare ? Access::kUpdate : Access::kLookup;
    sequence.steps.push_back(Step{access, std::min(key, count - 1)});
  }
  return sequence;
}

// `cycle` keys of `charge` bytes each, looked up in turn `rounds` times.
Sequence cyclicSequence(std::size_t cycle, std::uint64_t charge,
                        std::size_t rounds) {
  Sequence sequence;
  for (std::size_t k = 0; k < cycle; ++k) {
    sequence.keys.push_back(makeKey(k, lengthCharged(charge)));
  }
  for (std::size_t r = 0; r < rounds; ++r) {
    for (std::size_t k = 0; k < cycle; ++k) {
      sequence.steps.push_back(Step{Access::kLookup, k});
    }
  }
  return sequence;
}

// Hits a cache of `limits` gives the sequence: a lookup is get(), then set()
// on a miss; an update is set(); a clear is clear().
std::uint64_t replayedHits(const Sequence& sequence,
                           const MeasurementCacheLimits& limits) {
  const auto cache = std::make_unique<MeasurementCache>(limits);
  std::uint64_t hits = 0;
  for (const Step& step : sequence.steps) {
    const MeasurementCacheKey& key = sequence.keys[step.key];
    CachedSize size;
    switch (step.access) {
      case Access::kLookup:
        if (cache->get(key, size)) {
          ++hits;
        } else {
          cache->set(key, CachedSize{1.0, 1.0});
        }
        break;
      case Access::kUpdate:
        cache->set(key, CachedSize{2.0, 2.0});
        break;
      case Access::kClear:
        cache->clear();
        break;
    }
  }
  return hits;
}

CapacityCurve recordedCurve(const Sequence& sequence,
                            const std::vector<std::uint64_t>& budgets) {
  CapacityCurve curve(budgets);
  for (const Step& step : sequence.steps) {
    switch (step.access) {
      case Access::kLookup:
        curve.recordLookup(sequence.keys[step.key]);
        break;
      case Access::kUpdate:
        curve.recordUpdate(sequence.keys[step.key]);
        break;
      case Access::kClear:
        curve.recordClear();
        break;
    }
  }
  return curve;
}

struct Case {
  std::string name;
  Sequence sequence;
  // Where the case says so, the hits at one size: a figure the sequence's
  // construction fixes. Otherwise the default size must see some lookups
  // hit, and not all.
  std::optional<MeasurementCacheLimits> knownSize;
  std::uint64_t knownHits = 0;
};

std::vector<Case> cases() {
  std::vector<Case> all;
  // Small keys: the entry limit binds, and positions are renumbered many
  // times over.
  all.push_back(
      {"small keys", randomSequence(1, 1200, 10, 300, 5000, 0.0), {}, 0});
  // Keys of 8 to 100 KiB: the byte budget binds.
  all.push_back({"large keys",
                 randomSequence(2, 150, 8 * kKiB, 100 * kKiB, 800, 0.0),
                 {},
                 0});
  all.push_back(
      {"updates", randomSequence(3, 1000, 10, 3000, 4000, 0.3), {}, 0});
  // Exactly sixteen keys fill a budget of 1 MiB, and 512 small keys the
  // entry limit: a cycle of them hits after its first round, a cycle of one
  // more never hits.
  const MeasurementCacheLimits oneMiB{512, kMiB};
  const MeasurementCacheLimits standard{};
  all.push_back({"byte cycle that fits", cyclicSequence(16, 64 * kKiB, 5),
                 oneMiB, std::uint64_t{16} * 4});
  all.push_back(
      {"byte cycle one too long", cyclicSequence(17, 64 * kKiB, 5), oneMiB, 0});
  all.push_back({"entry cycle that fits", cyclicSequence(512, 600, 3), standard,
                 std::uint64_t{512} * 2});
  all.push_back(
      {"entry cycle one too long", cyclicSequence(513, 600, 3), standard, 0});

  // Among small keys, one above every budget, two above some of them and
  // one exactly at one: each is refused where it is above the budget and
  // takes no room there.
  {
    Sequence sequence = randomSequence(4, 400, 10, 2000, 2500, 0.1);
    const std::size_t first = sequence.keys.size();
    sequence.keys.push_back(makeKey(first, lengthCharged(13 * kMiB)));
    sequence.keys.push_back(makeKey(first + 1, lengthCharged(600 * kKiB)));
    sequence.keys.push_back(makeKey(first + 2, lengthCharged(5 * kMiB)));
    sequence.keys.push_back(makeKey(first + 3, lengthCharged(64 * kKiB)));
    for (std::size_t s = 0; s < sequence.steps.size(); s += 25) {
      sequence.steps[s].key = first + (s / 25) % 4;
    }
    all.push_back({"oversized keys", std::move(sequence), {}, 0});
  }
  // Keys holding a NaN equal nothing: each lookup of one is a new key that
  // takes room from the others.
  {
    Sequence sequence = randomSequence(5, 600, 10, 500, 3000, 0.1);
    for (std::size_t k = 0; k < sequence.keys.size(); k += 7) {
      sequence.keys[k].real2 = std::numeric_limits<double>::quiet_NaN();
    }
    all.push_back({"NaN keys", std::move(sequence), {}, 0});
  }
  {
    Sequence sequence = randomSequence(6, 800, 100, 20 * kKiB, 3000, 0.2);
    for (std::size_t s = 700; s < sequence.steps.size(); s += 1000) {
      sequence.steps[s].access = Access::kClear;
    }
    all.push_back({"clears", std::move(sequence), {}, 0});
  }
  return all;
}

// The grid: budgets around the default and one below the charge of any key
// (which no cache accepts); entry limits from one to more than any sequence
// has keys.
const std::vector<std::uint64_t> kBudgets{
    100, 560, 64 * kKiB, 1 * kMiB, 8 * kMiB, 12 * kMiB};
const std::vector<std::size_t> kEntryLimits{1, 7, 64, 512, 5000};

TEST(CapacityCurve, GivesTheHitsOfARealCacheAtEverySizeOfTheGrid) {
  std::vector<MeasurementCacheLimits> sizes;
  for (const std::size_t entries : kEntryLimits) {
    for (const std::uint64_t bytes : kBudgets) {
      if (bytes >= kSmallestEntryCharge) sizes.push_back({entries, bytes});
    }
  }
  for (const Case& c : cases()) {
    SCOPED_TRACE(c.name);
    const CapacityCurve curve = recordedCurve(c.sequence, kBudgets);
    std::uint64_t lookups = 0;
    for (const Step& step : c.sequence.steps) {
      lookups += step.access == Access::kLookup ? 1 : 0;
    }
    EXPECT_EQ(curve.lookups(), lookups);
    for (const MeasurementCacheLimits& limits : sizes) {
      SCOPED_TRACE(std::to_string(limits.maxEntries) + " entries, " +
                   std::to_string(limits.byteBudget) + " bytes");
      const std::uint64_t hits = replayedHits(c.sequence, limits);
      EXPECT_EQ(curve.hits(limits.maxEntries, limits.byteBudget), hits);
      if (c.knownSize) {
        if (limits == *c.knownSize) {
          EXPECT_EQ(hits, c.knownHits);
        }
      } else if (limits == MeasurementCacheLimits{}) {
        EXPECT_GT(hits, 0U);
        EXPECT_LT(hits, lookups);
      }
    }
    // No key fits a budget below the charge of an empty key.
    EXPECT_EQ(curve.hits(1 << 20, 100), 0U);
    EXPECT_EQ(curve.hits(0, 8 * kMiB), 0U);
  }
}

TEST(CapacityCurve, RefusesBudgetsItWasNotBuiltFor) {
  EXPECT_THROW(CapacityCurve({}), std::invalid_argument);
  CapacityCurve curve({8 * kMiB, 1 * kMiB, 8 * kMiB});
  EXPECT_EQ(curve.byteBudgets(), (std::vector<std::uint64_t>{kMiB, 8 * kMiB}));
  EXPECT_THROW((void)curve.hits(512, 2 * kMiB), std::invalid_argument);
  EXPECT_THROW((void)curve.hits(512, 9 * kMiB), std::invalid_argument);
  EXPECT_EQ(curve.hits(512, kMiB), 0U);
}

// Each budget costs memory per key held and work per lookup, so a curve takes
// at most kMaxByteBudgets distinct ones; repeats do not count.
TEST(CapacityCurve, RefusesMoreDistinctBudgetsThanItsMaximum) {
  constexpr std::size_t kMax = CapacityCurve::kMaxByteBudgets;
  struct Case {
    std::size_t distinct;
    std::size_t copies;  // of each budget
    bool accepted;
  };
  for (const Case c : {Case{1, 1, true}, Case{kMax, 1, true},
                       Case{kMax, 3, true}, Case{kMax + 1, 1, false},
                       Case{4 * kMax, 1, false}}) {
    SCOPED_TRACE(std::to_string(c.distinct) + " budgets, " +
                 std::to_string(c.copies) + " copies each");
    std::vector<std::uint64_t> budgets;
    for (std::size_t copy = 0; copy < c.copies; ++copy) {
      for (std::size_t b = 1; b <= c.distinct; ++b) budgets.push_back(b * kKiB);
    }
    if (!c.accepted) {
      EXPECT_THROW(CapacityCurve{budgets}, std::invalid_argument);
      continue;
    }
    CapacityCurve curve(budgets);
    ASSERT_EQ(curve.byteBudgets().size(), c.distinct);
    // Every budget still answers: a key of 1 KiB hits at each one that holds
    // it.
    const MeasurementCacheKey key = makeKey(0, lengthCharged(kKiB));
    curve.recordLookup(key);
    curve.recordLookup(key);
    for (const std::uint64_t budget : curve.byteBudgets()) {
      EXPECT_EQ(curve.hits(1, budget), 1U) << budget;
    }
  }
}

// A key above every budget is never stored, so it costs no memory; a NaN key
// is a new key each time.
TEST(CapacityCurve, StoresOnlyKeysSomeBudgetHolds) {
  CapacityCurve curve({kMiB});
  curve.recordLookup(makeKey(0, lengthCharged(2 * kMiB)));
  curve.recordLookup(makeKey(0, lengthCharged(2 * kMiB)));
  EXPECT_EQ(curve.distinctKeys(), 0U);
  MeasurementCacheKey nan = makeKey(1, 10);
  nan.real1 = std::nan("");
  curve.recordLookup(nan);
  curve.recordLookup(nan);
  EXPECT_EQ(curve.distinctKeys(), 2U);
  EXPECT_EQ(curve.lookups(), 4U);
  EXPECT_EQ(curve.hits(512, kMiB), 0U);
  curve.recordClear();
  EXPECT_EQ(curve.distinctKeys(), 0U);
  EXPECT_EQ(curve.lookups(), 4U);
}

}  // namespace
}  // namespace morvane::vesk
