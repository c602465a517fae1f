#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cache/measurement_cache.h"
#include "tests/cache_audit.h"

namespace morvane::vesk {
namespace {

constexpr std::size_t kMiB = std::size_t{1024} * 1024;
constexpr std::uint64_t kOneMiBCharge = 2097712;  // 2 x (1 MiB + 280)

using MeasurementCacheTest = AuditedCacheTest;

TEST_F(MeasurementCacheTest, EmptyCacheMissesAndIgnoresRemovalAndClear) {
  CachedSize out{7, 8};
  EXPECT_FALSE(cache_.get(keyFor("absent"), out));
  EXPECT_EQ(out.width, 7);
  EXPECT_EQ(out.height, 8);
  cache_.removeMatchingMarkdown("absent");
  cache_.removeMatchingMarkdown("");
  cache_.clear();
  EXPECT_EQ(cache_.entryCount(), 0u);
  EXPECT_EQ(accountedBytes(), 0u);
}

TEST_F(MeasurementCacheTest, GetReturnsTheStoredValueOfAnEqualKey) {
  MeasurementCacheKey key = keyFor("**bold**");
  key.real1 = 14;
  key.string1 = "Inter";
  cache_.set(key, {120.5, 18.25});
  key.markdown.assign("changed by the caller");  // the cache holds a copy

  MeasurementCacheKey probe = keyFor("**bold**");
  probe.real1 = 14;
  probe.string1 = "Inter";
  CachedSize out;
  ASSERT_TRUE(cache_.get(probe, out));
  EXPECT_EQ(out.width, 120.5);
  EXPECT_EQ(out.height, 18.25);
  probe.string1 = "Roboto";
  EXPECT_FALSE(cache_.get(probe, out));
  EXPECT_EQ(accountedBytes(), 2u * (8 + 5 + 280));
}

TEST_F(MeasurementCacheTest, ByteBudgetEvictsTheLeastRecentlyUsed) {
  cache_.set(keyOfLength(kMiB, 'a'), {0, 20});
  cache_.set(keyOfLength(kMiB, 'b'), {1, 20});
  cache_.set(keyOfLength(kMiB, 'c'), {2, 20});
  EXPECT_EQ(accountedBytes(), 3 * kOneMiBCharge);
  EXPECT_EQ(cache_.entryCount(), 3u);

  // 4 x 2097712 exceeds 8 MiB: the oldest, 'a', makes room.
  cache_.set(keyOfLength(kMiB, 'd'), {3, 20});
  EXPECT_FALSE(contains(keyOfLength(kMiB, 'a')));
  EXPECT_EQ(cache_.entryCount(), 3u);
  EXPECT_EQ(accountedBytes(), 3 * kOneMiBCharge);
  CachedSize out;
  ASSERT_TRUE(cache_.get(keyOfLength(kMiB, 'b'), out));
  EXPECT_EQ(out.width, 1);
  ASSERT_TRUE(cache_.get(keyOfLength(kMiB, 'c'), out));
  EXPECT_EQ(out.width, 2);
}

TEST_F(MeasurementCacheTest, AHitSurvivesTheNextEviction) {
  cache_.set(keyOfLength(kMiB, 'a'), {0, 20});
  cache_.set(keyOfLength(kMiB, 'b'), {1, 20});
  cache_.set(keyOfLength(kMiB, 'c'), {2, 20});
  ASSERT_TRUE(contains(keyOfLength(kMiB, 'a')));
  cache_.set(keyOfLength(kMiB, 'd'), {3, 20});
  EXPECT_TRUE(contains(keyOfLength(kMiB, 'a')));
  EXPECT_FALSE(contains(keyOfLength(kMiB, 'b')));
  const std::vector<std::string> expected{
      std::string(kMiB, 'a'), std::string(kMiB, 'd'), std::string(kMiB, 'c')};
  EXPECT_EQ(markdownsInOrder(cache_), expected);
}

TEST_F(MeasurementCacheTest, AKeyChargedExactlyTheBudgetFitsAndOneMoreDoesNot) {
  cache_.set(keyOfLength(kMiB, 'a'), {0, 20});
  cache_.set(keyFor("small"), {1, 1});
  const MeasurementCacheKey boundary = keyOfLength(4194024, 'b');
  cache_.set(boundary, {8, 8});
  EXPECT_EQ(cache_.entryCount(), 1u);
  EXPECT_EQ(accountedBytes(), MeasurementCache::kByteBudget);
  EXPECT_TRUE(contains(boundary));

  MeasurementCacheKey over = boundary;
  over.markdown.push_back('b');
  cache_.set(over, {9, 9});
  EXPECT_FALSE(contains(over));
  EXPECT_TRUE(contains(boundary));
  EXPECT_EQ(accountedBytes(), MeasurementCache::kByteBudget);
}

TEST_F(MeasurementCacheTest, AnOversizedStringInAnyFieldIsRefusedWithoutEviction) {
  cache_.set(keyFor("kept"), {1, 2});
  for (std::string MeasurementCacheKey::*field :
       {&MeasurementCacheKey::markdown, &MeasurementCacheKey::string1,
        &MeasurementCacheKey::string2, &MeasurementCacheKey::string3,
        &MeasurementCacheKey::string4, &MeasurementCacheKey::string5}) {
    MeasurementCacheKey huge{};
    (huge.*field).assign(4 * kMiB, 'z');
    cache_.set(huge, {99, 99});
    EXPECT_FALSE(contains(huge));
  }
  EXPECT_EQ(cache_.entryCount(), 1u);
  EXPECT_TRUE(contains(keyFor("kept")));
}

TEST_F(MeasurementCacheTest, HoldsAtMost512EntriesAndEvictsTheLeastRecentlyUsed) {
  for (int i = 0; i < 512; ++i) cache_.set(keyFor(std::to_string(i)), {1, 1});
  EXPECT_EQ(cache_.entryCount(), 512u);
  EXPECT_TRUE(contains(keyFor("0")));  // now "1" is the oldest

  cache_.set(keyFor("new"), {2, 2});
  EXPECT_EQ(cache_.entryCount(), 512u);
  EXPECT_FALSE(contains(keyFor("1")));
  EXPECT_TRUE(contains(keyFor("2")));
  EXPECT_TRUE(contains(keyFor("new")));
  // 2 x (512 x 280 + the text lengths of "0".."511" without "1", plus "new")
  EXPECT_EQ(accountedBytes(), 289576u);
}

TEST_F(MeasurementCacheTest, UpdatingAStoredKeyReplacesItsValueWithoutEviction) {
  for (int i = 0; i < 512; ++i) cache_.set(keyFor(std::to_string(i)), {1, 1});
  const std::uint64_t before = accountedBytes();
  cache_.set(keyFor("0"), {123, 456});  // the oldest entry
  EXPECT_EQ(cache_.entryCount(), 512u);
  EXPECT_EQ(accountedBytes(), before);
  EXPECT_EQ(markdownsInOrder(cache_).front(), "0");
  CachedSize out;
  ASSERT_TRUE(cache_.get(keyFor("0"), out));
  EXPECT_EQ(out.width, 123);
  EXPECT_EQ(out.height, 456);
  EXPECT_TRUE(contains(keyFor("1")));  // nothing was evicted
}

TEST_F(MeasurementCacheTest, RemovingByMarkdownReleasesEveryMatchingEntry) {
  MeasurementCacheKey narrow = keyOfLength(kMiB, 'c');
  MeasurementCacheKey wide = narrow;
  wide.real1 = 640;
  cache_.set(keyOfLength(kMiB, 'a'), {0, 0});
  cache_.set(narrow, {1, 1});
  cache_.set(keyFor(""), {2, 2});
  cache_.set(wide, {3, 3});
  cache_.removeMatchingMarkdown(std::string(kMiB, 'c'));
  EXPECT_FALSE(contains(narrow));
  EXPECT_FALSE(contains(wide));
  EXPECT_EQ(accountedBytes(), kOneMiBCharge + 560);
  EXPECT_EQ(markdownsInOrder(cache_),
            (std::vector<std::string>{"", std::string(kMiB, 'a')}));

  // The released bytes are reusable: three more 1 MiB keys evict nothing.
  cache_.set(keyOfLength(kMiB, 'x'), {4, 4});
  cache_.set(keyOfLength(kMiB, 'y'), {5, 5});
  EXPECT_EQ(cache_.entryCount(), 4u);
  EXPECT_TRUE(contains(keyOfLength(kMiB, 'a')));

  cache_.removeMatchingMarkdown("");  // matches only the empty markdown
  EXPECT_EQ(cache_.entryCount(), 3u);
  EXPECT_FALSE(contains(keyFor("")));
}

TEST_F(MeasurementCacheTest, ClearEmptiesTheCacheForAFreshRun) {
  for (int i = 0; i < 600; ++i) cache_.set(keyFor(std::to_string(i)), {1, 1});
  cache_.clear();
  EXPECT_EQ(cache_.entryCount(), 0u);
  EXPECT_TRUE(markdownsInOrder(cache_).empty());
  EXPECT_EQ(accountedBytes(), 0u);
  for (int i = 0; i < 512; ++i) cache_.set(keyFor(std::to_string(i)), {1, 1});
  EXPECT_TRUE(contains(keyFor("0")));
  EXPECT_EQ(cache_.entryCount(), 512u);
}

TEST_F(MeasurementCacheTest, NanKeysNeverHitAndStillLeaveWithTheirEntries) {
  MeasurementCacheKey nan = keyFor("nan");
  nan.real2 = std::numeric_limits<double>::quiet_NaN();
  for (int i = 0; i < 600; ++i) {
    nan.unsigned1 = i % 3;  // some repeat: each set still inserts
    cache_.set(nan, {1, 1});
    ASSERT_FALSE(contains(nan));
  }
  EXPECT_EQ(cache_.entryCount(), 512u);
  ASSERT_TRUE(MeasurementCacheInspector(cache_).invariantsHold());

  for (int i = 0; i < 512; ++i) {
    cache_.set(keyFor(std::to_string(i)), {static_cast<double>(i), 0});
  }
  EXPECT_EQ(cache_.entryCount(), 512u);
  for (int i = 0; i < 512; ++i) {
    CachedSize out;
    ASSERT_TRUE(cache_.get(keyFor(std::to_string(i)), out)) << i;
    EXPECT_EQ(out.width, i);
  }

  cache_.set(nan, {1, 1});
  cache_.set(nan, {1, 1});
  cache_.removeMatchingMarkdown("nan");
  EXPECT_EQ(cache_.entryCount(), 510u);
}

TEST_F(MeasurementCacheTest, RemovingByAStoredEntrysOwnMarkdownRemovesEveryMatch) {
  const std::string text(100, 'm');  // longer than any in-place string
  MeasurementCacheKey first = keyFor(text);
  first.integer = 1;
  MeasurementCacheKey second = keyFor(text);
  second.integer = 2;
  MeasurementCacheKey newest = keyFor(text);
  newest.integer = 3;
  cache_.set(first, {1, 1});
  cache_.set(keyFor("other"), {2, 2});
  cache_.set(second, {3, 3});
  cache_.set(newest, {4, 4});

  // A caller may keep a reference to a stored key from forEachEntry and pass
  // its markdown back: here the most recent entry's, compared with the two
  // older matches after its own entry is found.
  const std::string* stored = nullptr;
  cache_.forEachEntry([&](const MeasurementCache::CacheEntry& entry) {
    if (stored == nullptr) stored = &entry.key.markdown;
  });
  ASSERT_NE(stored, nullptr);
  ASSERT_EQ(*stored, text);
  cache_.removeMatchingMarkdown(*stored);

  EXPECT_EQ(markdownsInOrder(cache_), std::vector<std::string>{"other"});
  EXPECT_EQ(accountedBytes(), 2u * (5 + 280));
}

TEST_F(MeasurementCacheTest, SettingAStoredNanKeyByReferenceWhileFullStoresItAgain) {
  MeasurementCacheKey nan = keyOfLength(100, 'n');
  nan.real1 = std::numeric_limits<double>::quiet_NaN();
  cache_.set(nan, {1, 1});
  for (int i = 1; i < 512; ++i) cache_.set(keyFor(std::to_string(i)), {0, 0});

  // The NaN key is the least recently used. Passed back by reference it is
  // not found (it equals nothing), so the set evicts its stored entry, the
  // very key it was given, to make room for the new one.
  const MeasurementCacheKey* leastRecent = nullptr;
  cache_.forEachEntry([&](const MeasurementCache::CacheEntry& entry) {
    leastRecent = &entry.key;
  });
  ASSERT_NE(leastRecent, nullptr);
  ASSERT_EQ(leastRecent->markdown, nan.markdown);
  cache_.set(*leastRecent, {7, 8});

  EXPECT_EQ(cache_.entryCount(), 512u);
  std::vector<MeasurementCache::CacheEntry> stored;
  cache_.forEachEntry([&](const MeasurementCache::CacheEntry& entry) {
    stored.push_back(entry);
  });
  EXPECT_EQ(stored.front().key.markdown, nan.markdown);
  EXPECT_TRUE(std::isnan(stored.front().key.real1));
  EXPECT_EQ(stored.front().size.width, 7);
  EXPECT_EQ(stored.front().size.height, 8);
  EXPECT_EQ(stored.back().key.markdown, "1");  // the NaN key's entry left
}

TEST(MeasurementCacheShared, IsOneInstanceForTheProcess) {
  EXPECT_EQ(&MeasurementCache::shared(), &MeasurementCache::shared());
}

}  // namespace
}  // namespace morvane::vesk
