#ifndef VESK_BENCHMARKS_LEVELDB_MEASUREMENT_CACHE_H_
#define VESK_BENCHMARKS_LEVELDB_MEASUREMENT_CACHE_H_

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include <leveldb/cache.h>

#include "cache/cached_size.h"
#include "cache/measurement_cache_key.h"

namespace morvane::vesk {

// Measurements kept in LevelDB's LRU cache (leveldb::NewLRUCache), the peer
// the benchmarks compare MeasurementCache with. A key is stored as its bytes
// (serializeKey) and charged entryCharge(key), as MeasurementCache charges it;
// a value lives in a block of its own that LevelDB frees through a deleter.
//
// LevelDB bounds the total charge only, not the entry count, and splits its
// capacity into 16 shards chosen by key hash, each evicting on its own once
// its sixteenth is full. A key that is set again replaces the stored entry.
// getBytes and setBytes may be called from any number of threads at once; get
// and set serialize into one buffer, so only one thread may call them.
class LevelDbMeasurementCache {
 public:
  explicit LevelDbMeasurementCache(std::size_t capacity);
  ~LevelDbMeasurementCache();
  LevelDbMeasurementCache(const LevelDbMeasurementCache&) = delete;
  LevelDbMeasurementCache& operator=(const LevelDbMeasurementCache&) = delete;

  // Serializes `key`, then does what setBytes and getBytes do.
  void set(const MeasurementCacheKey& key, CachedSize size);
  bool get(const MeasurementCacheKey& key, CachedSize& out);

  // Insert + Release of an already serialized key.
  void setBytes(std::string_view keyBytes, std::uint64_t charge,
                CachedSize size);
  // Lookup, copying the value out, and Release.
  bool getBytes(std::string_view keyBytes, CachedSize& out);

  // Drops every entry by starting over with an empty cache.
  void clear();

  // The sum of the charges of the stored entries, as LevelDB keeps it.
  [[nodiscard]] std::uint64_t totalCharge() const { return cache_->TotalCharge(); }
  // Values LevelDB has not freed yet: the entries it stores.
  [[nodiscard]] std::uint64_t entryCount() const {
    return liveValues_.load(std::memory_order_relaxed);
  }

 private:
  struct Value;
  static void deleteValue(const leveldb::Slice& key, void* value);

  std::size_t capacity_;
  // Relaxed: a count read only when no thread is setting.
  std::atomic<std::uint64_t> liveValues_{0};
  std::unique_ptr<leveldb::Cache> cache_;
  std::string keyBytes_;  // reused for every serialization
};

}  // namespace morvane::vesk

#endif  // VESK_BENCHMARKS_LEVELDB_MEASUREMENT_CACHE_H_
