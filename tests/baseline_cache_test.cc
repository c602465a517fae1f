#include <limits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "baseline/measurement_cache.h"
#include "tests/cache_test_helpers.h"

namespace morvane::vesk {
namespace {

class BaselineCacheTest : public ::testing::Test {
 protected:
  // The count the index reports always matches the entries listed.
  void TearDown() override {
    EXPECT_EQ(cache_.entryCount(), markdownsInOrder(cache_).size());
    EXPECT_LE(cache_.entryCount(), MeasurementCache::kMaxEntries);
  }
  void fill(int count) {
    for (int i = 0; i < count; ++i) cache_.set(keyFor(std::to_string(i)), {1, 1});
  }

  MeasurementCache cache_;
};

TEST_F(BaselineCacheTest, Stores512KeysWithoutEviction) {
  fill(512);
  EXPECT_EQ(cache_.entryCount(), 512u);
  const auto order = markdownsInOrder(cache_);
  EXPECT_EQ(order.front(), "511");
  EXPECT_EQ(order.back(), "0");
}

TEST_F(BaselineCacheTest, The513thKeyEvictsTheLeastRecentlyStored) {
  fill(512);
  cache_.set(keyFor("new"), {2, 2});
  EXPECT_EQ(cache_.entryCount(), 512u);
  const auto order = markdownsInOrder(cache_);
  EXPECT_EQ(order.front(), "new");
  EXPECT_EQ(order.back(), "1");
}

TEST_F(BaselineCacheTest, UpdatingTheOldestMovesItToTheFrontWithoutEviction) {
  fill(512);
  cache_.set(keyFor("0"), {7, 7});
  EXPECT_EQ(cache_.entryCount(), 512u);
  auto order = markdownsInOrder(cache_);
  EXPECT_EQ(order.front(), "0");
  EXPECT_EQ(order.back(), "1");
  cache_.forEachEntry([](const MeasurementCache::CacheEntry& entry) {
    if (entry.key.markdown == "0") {
      EXPECT_EQ(entry.size.width, 7);
    }
  });

  cache_.set(keyFor("new"), {2, 2});  // evicts "1", second from the back before
  order = markdownsInOrder(cache_);
  EXPECT_EQ(order.back(), "2");
  EXPECT_EQ(order[1], "0");
}

TEST_F(BaselineCacheTest, StoresAKeyOfAnySizeUntil512NewerPushItOut) {
  cache_.set(keyFor(std::string(4194025, 'b')), {9, 9});
  EXPECT_EQ(cache_.entryCount(), 1u);
  fill(511);
  EXPECT_EQ(markdownsInOrder(cache_).back().size(), 4194025u);
  cache_.set(keyFor("one more"), {1, 1});
  EXPECT_EQ(markdownsInOrder(cache_).back(), "0");
}

TEST_F(BaselineCacheTest, ClearEmptiesTheCache) {
  cache_.clear();
  EXPECT_EQ(cache_.entryCount(), 0u);
  fill(600);
  cache_.clear();
  EXPECT_EQ(cache_.entryCount(), 0u);
  EXPECT_TRUE(markdownsInOrder(cache_).empty());
  fill(512);
  EXPECT_EQ(markdownsInOrder(cache_).back(), "0");
}

TEST_F(BaselineCacheTest, NanKeysLeaveTheIndexWithTheirEntries) {
  MeasurementCacheKey nan = keyFor("nan");
  nan.real1 = std::numeric_limits<double>::quiet_NaN();
  for (int i = 0; i < 600; ++i) cache_.set(nan, {1, 1});  // each inserts
  EXPECT_EQ(cache_.entryCount(), 512u);
  fill(512);
  EXPECT_EQ(cache_.entryCount(), 512u);
  for (const std::string& markdown : markdownsInOrder(cache_)) {
    EXPECT_NE(markdown, "nan");
  }
}

TEST(BaselineCacheShared, IsOneInstanceForTheProcess) {
  EXPECT_EQ(&MeasurementCache::shared(), &MeasurementCache::shared());
}

}  // namespace
}  // namespace morvane::vesk
