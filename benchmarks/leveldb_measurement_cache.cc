#include "benchmarks/leveldb_measurement_cache.h"

#include "benchmarks/key_bytes.h"
#include "cache/entry_charge.h"

namespace morvane::vesk {

struct LevelDbMeasurementCache::Value {
  CachedSize size;
  std::atomic<std::uint64_t>* live;
};

LevelDbMeasurementCache::LevelDbMeasurementCache(std::size_t capacity)
    : capacity_(capacity), cache_(leveldb::NewLRUCache(capacity)) {}

LevelDbMeasurementCache::~LevelDbMeasurementCache() = default;

void LevelDbMeasurementCache::deleteValue(const leveldb::Slice&, void* value) {
  const Value* stored = static_cast<Value*>(value);
  stored->live->fetch_sub(1, std::memory_order_relaxed);
  delete stored;
}

void LevelDbMeasurementCache::set(const MeasurementCacheKey& key,
                                  CachedSize size) {
  serializeKey(key, keyBytes_);
  setBytes(keyBytes_, entryCharge(key), size);
}

bool LevelDbMeasurementCache::get(const MeasurementCacheKey& key,
                                  CachedSize& out) {
  serializeKey(key, keyBytes_);
  return getBytes(keyBytes_, out);
}

void LevelDbMeasurementCache::setBytes(std::string_view keyBytes,
                                       std::uint64_t charge, CachedSize size) {
  auto* value = new Value{size, &liveValues_};
  liveValues_.fetch_add(1, std::memory_order_relaxed);
  cache_->Release(cache_->Insert(
      leveldb::Slice(keyBytes.data(), keyBytes.size()), value,
      static_cast<std::size_t>(charge), &deleteValue));
}

bool LevelDbMeasurementCache::getBytes(std::string_view keyBytes,
                                       CachedSize& out) {
  leveldb::Cache::Handle* handle =
      cache_->Lookup(leveldb::Slice(keyBytes.data(), keyBytes.size()));
  if (handle == nullptr) return false;
  out = static_cast<const Value*>(cache_->Value(handle))->size;
  cache_->Release(handle);
  return true;
}

void LevelDbMeasurementCache::clear() {
  cache_.reset(leveldb::NewLRUCache(capacity_));
}

}  // namespace morvane::vesk
