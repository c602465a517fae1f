#include "tests/reference_cache.h"

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>

namespace morvane::vesk::testing {

bool keysEqual(const MeasurementCacheKey& a, const MeasurementCacheKey& b) {
  return a.markdown == b.markdown && a.real1 == b.real1 && a.flag1 == b.flag1 &&
         a.flag2 == b.flag2 && a.real2 == b.real2 && a.flag3 == b.flag3 &&
         a.flag4 == b.flag4 && a.flag5 == b.flag5 && a.flag6 == b.flag6 &&
         a.flag7 == b.flag7 && a.flag8 == b.flag8 && a.flag9 == b.flag9 &&
         a.flag10 == b.flag10 && a.unsigned1 == b.unsigned1 &&
         a.unsigned2 == b.unsigned2 && a.unsigned3 == b.unsigned3 &&
         a.real3 == b.real3 && a.flavor == b.flavor && a.string1 == b.string1 &&
         a.string2 == b.string2 && a.integer == b.integer &&
         a.string3 == b.string3 && a.string4 == b.string4 &&
         a.string5 == b.string5;
}

namespace {

bool sameBits(double a, double b) {
  return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
}

}  // namespace

bool sameKey(const MeasurementCacheKey& a, const MeasurementCacheKey& b) {
  return a.markdown == b.markdown && sameBits(a.real1, b.real1) &&
         a.flag1 == b.flag1 && a.flag2 == b.flag2 &&
         sameBits(a.real2, b.real2) && a.flag3 == b.flag3 &&
         a.flag4 == b.flag4 && a.flag5 == b.flag5 && a.flag6 == b.flag6 &&
         a.flag7 == b.flag7 && a.flag8 == b.flag8 && a.flag9 == b.flag9 &&
         a.flag10 == b.flag10 && a.unsigned1 == b.unsigned1 &&
         a.unsigned2 == b.unsigned2 && a.unsigned3 == b.unsigned3 &&
         sameBits(a.real3, b.real3) && a.flavor == b.flavor &&
         a.string1 == b.string1 && a.string2 == b.string2 &&
         a.integer == b.integer && a.string3 == b.string3 &&
         a.string4 == b.string4 && a.string5 == b.string5;
}

bool sameSize(CachedSize a, CachedSize b) {
  return sameBits(a.width, b.width) && sameBits(a.height, b.height);
}

std::uint64_t referenceCharge(const MeasurementCacheKey& key) {
  const std::uint64_t lengths = key.markdown.size() + key.string1.size() +
                                key.string2.size() + key.string3.size() +
                                key.string4.size() + key.string5.size();
  return 2 * (lengths + 280);
}

std::size_t ReferenceCache::find(const MeasurementCacheKey& key) const {
  for (std::size_t i = 0; i < entries_.size(); ++i) {
    if (keysEqual(entries_[i].key(), key)) return i;
  }
  return entries_.size();
}

void ReferenceCache::moveToFront(std::size_t position) {
  const auto at = entries_.begin() + static_cast<std::ptrdiff_t>(position);
  std::rotate(entries_.begin(), at, at + 1);
}

bool ReferenceCache::get(const MeasurementCacheKey& key, CachedSize& out) {
  const std::size_t position = find(key);
  if (position == entries_.size()) return false;
  moveToFront(position);
  out = entries_.front().size;
  return true;
}

void ReferenceCache::set(const MeasurementCacheKey& key, CachedSize size) {
  const std::uint64_t charge = referenceCharge(key);
  if (charge > byteBudget_) {
    ++counts_.refused;
    return;
  }
  const std::size_t position = find(key);
  if (position != entries_.size()) {
    entries_[position].size = size;
    moveToFront(position);
    return;
  }
  while (!entries_.empty() &&
         (entries_.size() >= maxEntries_ || bytes() + charge > byteBudget_)) {
    ++(entries_.size() >= maxEntries_ ? counts_.evictedForCount
                                      : counts_.evictedForBytes);
    entries_.pop_back();
  }
  entries_.insert(
      entries_.begin(),
      Entry{std::make_shared<const MeasurementCacheKey>(key), size});
}

CachedSize ReferenceCache::getOrMeasure(const MeasurementCacheKey& key,
                                        CachedSize measured) {
  CachedSize stored;
  if (get(key, stored)) return stored;
  set(key, measured);
  return measured;
}

void ReferenceCache::setLimits(std::size_t maxEntries,
                               std::uint64_t byteBudget) {
  maxEntries_ = maxEntries;
  byteBudget_ = byteBudget;
  while (entries_.size() > maxEntries_ || bytes() > byteBudget_) {
    ++(entries_.size() > maxEntries_ ? counts_.evictedForCount
                                     : counts_.evictedForBytes);
    entries_.pop_back();
  }
}

void ReferenceCache::removeMatchingMarkdown(const std::string& markdown) {
  std::erase_if(entries_, [&](const Entry& entry) {
    return entry.key().markdown == markdown;
  });
}

std::uint64_t ReferenceCache::bytes() const {
  std::uint64_t total = 0;
  for (const Entry& entry : entries_) total += referenceCharge(entry.key());
  return total;
}

}  // namespace morvane::vesk::testing
