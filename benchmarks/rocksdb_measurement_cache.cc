#include "benchmarks/rocksdb_measurement_cache.h"

#include <bit>
#include <cstring>

#include "benchmarks/key_bytes.h"
#include "cache/entry_charge.h"

namespace morvane::vesk {
namespace {

// MurmurHash3's 64-bit finaliser: every input bit affects every output bit.
std::uint64_t avalanche(std::uint64_t h) {
  h ^= h >> 33;
  h *= 0xff51afd7ed558ccdULL;
  h ^= h >> 33;
  h *= 0xc4ceb9fe1a85ec53ULL;
  h ^= h >> 33;
  return h;
}

std::shared_ptr<rocksdb::Cache> makeCache(RocksDbMeasurementCache::Kind kind,
                                          std::size_t capacity,
                                          std::size_t estimatedEntryCharge) {
  if (kind == RocksDbMeasurementCache::Kind::kLru) {
    rocksdb::LRUCacheOptions options;
    options.capacity = capacity;
    options.metadata_charge_policy = rocksdb::kDontChargeCacheMetadata;
    return rocksdb::NewLRUCache(options);
  }
  rocksdb::HyperClockCacheOptions options(capacity, estimatedEntryCharge);
  options.metadata_charge_policy = rocksdb::kDontChargeCacheMetadata;
  return options.MakeSharedCache();
}

}  // namespace

struct RocksDbMeasurementCache::Value {
  CachedSize size;
  std::string keyBytes;  // kHyperClock only: what the digest stands for
  std::atomic<std::uint64_t>* live;
};

RocksDbMeasurementCache::Digest RocksDbMeasurementCache::digestOf(
    std::string_view keyBytes) {
  std::uint64_t a = 0x9e3779b97f4a7c15ULL ^ keyBytes.size();
  std::uint64_t b = 0xc2b2ae3d27d4eb4fULL + keyBytes.size();
  std::size_t at = 0;
  const auto mix = [&](std::uint64_t word) {
    a = std::rotl(a ^ word, 31) * 0x87c37b91114253d5ULL;
    b = std::rotl(b + word, 27) * 0x4cf5ad432745937fULL;
  };
  for (; at + 8 <= keyBytes.size(); at += 8) {
    std::uint64_t word = 0;
    std::memcpy(&word, keyBytes.data() + at, 8);
    mix(word);
  }
  if (at < keyBytes.size()) {
    std::uint64_t word = 0;
    std::memcpy(&word, keyBytes.data() + at, keyBytes.size() - at);
    mix(word);
  }
  const std::uint64_t first = avalanche(a);
  const std::uint64_t second = avalanche(b ^ first);
  Digest digest;
  std::memcpy(digest.data(), &first, 8);
  std::memcpy(digest.data() + 8, &second, 8);
  return digest;
}

RocksDbMeasurementCache::RocksDbMeasurementCache(Kind kind,
                                                 std::size_t capacity,
                                                 std::size_t estimatedEntryCharge,
                                                 DigestFunction digest)
    : kind_(kind),
      digest_(digest),
      cache_(makeCache(kind, capacity, estimatedEntryCharge)) {}

// Dropping the cache frees every value through deleteValue, which counts
// down liveValues_: the cache goes first.
RocksDbMeasurementCache::~RocksDbMeasurementCache() { cache_.reset(); }

void RocksDbMeasurementCache::deleteValue(const rocksdb::Slice&, void* value) {
  const Value* stored = static_cast<Value*>(value);
  stored->live->fetch_sub(1, std::memory_order_relaxed);
  delete stored;
}

void RocksDbMeasurementCache::set(const MeasurementCacheKey& key,
                                  CachedSize size) {
  serializeKey(key, keyBytes_);
  setBytes(keyBytes_, entryCharge(key), size);
}

bool RocksDbMeasurementCache::get(const MeasurementCacheKey& key,
                                  CachedSize& out) {
  serializeKey(key, keyBytes_);
  return getBytes(keyBytes_, out);
}

void RocksDbMeasurementCache::setBytes(std::string_view keyBytes,
                                       std::uint64_t charge, CachedSize size) {
  auto* value = new Value{size, {}, &liveValues_};
  liveValues_.fetch_add(1, std::memory_order_relaxed);
  const auto charged = static_cast<std::size_t>(charge);
  if (kind_ == Kind::kLru) {
    // On failure RocksDB has freed the value through deleteValue already.
    static_cast<void>(cache_->Insert(
        rocksdb::Slice(keyBytes.data(), keyBytes.size()), value, charged,
        &deleteValue));
    return;
  }
  value->keyBytes.assign(keyBytes);
  const Digest digest = digest_(keyBytes);
  const rocksdb::Slice digestKey(digest.data(), digest.size());
  cache_->Erase(digestKey);
  static_cast<void>(cache_->Insert(digestKey, value, charged, &deleteValue));
}

bool RocksDbMeasurementCache::getBytes(std::string_view keyBytes,
                                       CachedSize& out) {
  rocksdb::Cache::Handle* handle = nullptr;
  if (kind_ == Kind::kLru) {
    handle = cache_->Lookup(rocksdb::Slice(keyBytes.data(), keyBytes.size()));
  } else {
    const Digest digest = digest_(keyBytes);
    handle = cache_->Lookup(rocksdb::Slice(digest.data(), digest.size()));
  }
  if (handle == nullptr) return false;
  const auto* value = static_cast<const Value*>(cache_->Value(handle));
  const bool same = kind_ == Kind::kLru || value->keyBytes == keyBytes;
  if (same) out = value->size;
  cache_->Release(handle);
  return same;
}

}  // namespace morvane::vesk
