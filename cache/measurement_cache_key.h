#ifndef VESK_CACHE_MEASUREMENT_CACHE_KEY_H_
#define VESK_CACHE_MEASUREMENT_CACHE_KEY_H_

#include <cstdint>
#include <string>
#include <tuple>

#include "markdown_flavor.h"

namespace morvane::vesk {

// Every input of one text measurement: two requests with equal keys get the
// same measurement. A plain record with value semantics; a copy owns its own
// strings. Value-initialisation gives the all-zero key (empty strings, zero
// numbers, false flags, flavor 0).
//
// The field order is part of the contract: equality compares and the hash
// combines the fields in declaration order, and the order gives the record its
// 272-byte layout on LP64 with libstdc++.
//
// Equality is field-wise: strings by length then bytes (zero bytes included),
// doubles by IEEE equality (+0.0 equals -0.0; a NaN equals nothing, not even
// itself, so a key holding one never matches any key). Thread safety: reading
// a key from several threads is safe; nobody may write it meanwhile.
struct MeasurementCacheKey {
  std::string markdown;
  double real1 = 0.0;
  bool flag1 = false;
  bool flag2 = false;
  double real2 = 0.0;
  bool flag3 = false;
  bool flag4 = false;
  bool flag5 = false;
  bool flag6 = false;
  bool flag7 = false;
  bool flag8 = false;
  bool flag9 = false;
  bool flag10 = false;
  std::uint64_t unsigned1 = 0;
  std::uint64_t unsigned2 = 0;
  std::uint64_t unsigned3 = 0;
  double real3 = 0.0;
  MarkdownFlavor flavor{};
  std::string string1;
  std::string string2;
  std::int32_t integer = 0;
  std::string string3;
  std::string string4;
  std::string string5;

  bool operator==(const MeasurementCacheKey& other) const;
};

// All 24 fields of `key` as a tuple of references, in declaration order. The
// one place that lists the fields; equality and hashing are both built on it.
inline auto keyFields(const MeasurementCacheKey& key) {
  return std::tie(key.markdown, key.real1, key.flag1, key.flag2, key.real2,
                  key.flag3, key.flag4, key.flag5, key.flag6, key.flag7,
                  key.flag8, key.flag9, key.flag10, key.unsigned1,
                  key.unsigned2, key.unsigned3, key.real3, key.flavor,
                  key.string1, key.string2, key.integer, key.string3,
                  key.string4, key.string5);
}

inline bool MeasurementCacheKey::operator==(
    const MeasurementCacheKey& other) const {
  // std::string compares lengths before bytes, and markdown comes first, so
  // keys for texts of different lengths are told apart without reading text.
  return keyFields(*this) == keyFields(other);
}

}  // namespace morvane::vesk

#endif  // VESK_CACHE_MEASUREMENT_CACHE_KEY_H_
