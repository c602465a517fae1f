#ifndef VESK_BENCHMARKS_ROCKSDB_MEASUREMENT_CACHE_H_
#define VESK_BENCHMARKS_ROCKSDB_MEASUREMENT_CACHE_H_

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include <rocksdb/cache.h>

#include "cache/cached_size.h"
#include "cache/measurement_cache_key.h"

namespace morvane::vesk {

// Measurements kept in one of RocksDB's block caches, peers the benchmarks
// compare MeasurementCache with; charged entryCharge(key) as MeasurementCache
// charges it, with RocksDB's own metadata left uncharged (as LevelDB's is).
//
// - kLru: rocksdb::NewLRUCache, keyed by the key's bytes (serializeKey). It
//   splits its capacity into shards chosen by key hash (up to 64, each at
//   least 512 KiB), each an LRU list under its own mutex.
// - kHyperClock: rocksdb::HyperClockCacheOptions::MakeSharedCache, a
//   lock-free CLOCK cache whose table is sized once from the capacity and
//   the estimated entry charge. It takes 16-byte keys only, so an entry is
//   keyed by a 16-byte digest of the key's bytes and its value keeps those
//   bytes: a hit compares them in full, and a digest shared by two keys is a
//   miss for the one not stored. It keeps the entry it has when a key is
//   inserted again, so setBytes erases the digest first; a lookup of that
//   key racing with it may then miss.
//
// A key that is set again replaces the stored entry. getBytes and setBytes
// may be called from any number of threads at once; get and set serialize
// into one buffer, so only one thread may call them.
class RocksDbMeasurementCache {
 public:
  enum class Kind { kLru, kHyperClock };
  using Digest = std::array<char, 16>;
  using DigestFunction = Digest (*)(std::string_view keyBytes);

  // A 128-bit hash of `keyBytes` (not cryptographic): two independent
  // multiply-rotate lanes over its 8-byte words, each finished with
  // MurmurHash3's 64-bit avalanche.
  static Digest digestOf(std::string_view keyBytes);

  // `estimatedEntryCharge` sizes HyperClockCache's table; kLru ignores it.
  // `digest` replaces digestOf, for tests that make keys collide.
  RocksDbMeasurementCache(Kind kind, std::size_t capacity,
                          std::size_t estimatedEntryCharge,
                          DigestFunction digest = &digestOf);
  ~RocksDbMeasurementCache();
  RocksDbMeasurementCache(const RocksDbMeasurementCache&) = delete;
  RocksDbMeasurementCache& operator=(const RocksDbMeasurementCache&) = delete;

  // Serializes `key`, then does what setBytes and getBytes do.
  void set(const MeasurementCacheKey& key, CachedSize size);
  bool get(const MeasurementCacheKey& key, CachedSize& out);

  // Insert of an already serialized key, without keeping a handle.
  void setBytes(std::string_view keyBytes, std::uint64_t charge,
                CachedSize size);
  // Lookup, copying the value out, and Release.
  bool getBytes(std::string_view keyBytes, CachedSize& out);

  // The sum of the charges of the stored entries, as RocksDB keeps it.
  [[nodiscard]] std::uint64_t totalCharge() const { return cache_->GetUsage(); }
  // Values RocksDB has not freed yet: the entries it stores.
  [[nodiscard]] std::uint64_t entryCount() const {
    return liveValues_.load(std::memory_order_relaxed);
  }

 private:
  struct Value;
  static void deleteValue(const rocksdb::Slice& key, void* value);

  Kind kind_;
  DigestFunction digest_;
  // Relaxed: a count read only when no thread is setting.
  std::atomic<std::uint64_t> liveValues_{0};
  std::shared_ptr<rocksdb::Cache> cache_;
  std::string keyBytes_;  // reused for every serialization by get and set
};

}  // namespace morvane::vesk

#endif  // VESK_BENCHMARKS_ROCKSDB_MEASUREMENT_CACHE_H_
