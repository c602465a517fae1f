#include "benchmarks/benchmark_keys.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <stdexcept>

#include "cache/entry_charge.h"

namespace morvane::vesk {
namespace {

constexpr std::size_t kTagDigits = 8;
constexpr std::uint64_t kByteBoundCharge = std::uint64_t{32} * 1024;

}  // namespace

MeasurementCacheKey benchmarkKey(std::size_t markdownBytes, std::uint32_t tag,
                                 std::size_t paddingBytes) {
  if (markdownBytes < kTagDigits || tag > 99'999'999) {
    throw std::invalid_argument("benchmarkKey: markdown too short for the tag");
  }
  MeasurementCacheKey key{};
  key.markdown.assign(markdownBytes, 'x');
  std::array<char, kTagDigits + 1> digits{};
  std::snprintf(digits.data(), digits.size(), "%08u",
                static_cast<unsigned>(tag));
  key.markdown.replace(markdownBytes - kTagDigits, kTagDigits, digits.data(),
                       kTagDigits);
  key.string1.assign(paddingBytes, 'p');
  return key;
}

std::vector<MeasurementCacheKey> benchmarkKeys(std::size_t count,
                                               std::size_t markdownBytes,
                                               std::uint32_t firstTag,
                                               std::size_t paddingBytes) {
  std::vector<MeasurementCacheKey> keys;
  keys.reserve(count);
  for (std::size_t i = 0; i < count; ++i) {
    keys.push_back(benchmarkKey(markdownBytes,
                                firstTag + static_cast<std::uint32_t>(i),
                                paddingBytes));
  }
  return keys;
}

std::size_t entriesHeld(std::uint64_t charge) {
  if (charge == 0 || charge > kBudgetedByteBudget) return 0;
  return static_cast<std::size_t>(std::min<std::uint64_t>(
      kBudgetedMaxEntries, kBudgetedByteBudget / charge));
}

std::size_t byteBoundPadding(std::size_t markdownBytes) {
  const std::uint64_t bytesPerCopy = kByteBoundCharge / 2;
  const std::uint64_t unpadded = markdownBytes + kEntryOverheadBytes;
  return unpadded >= bytesPerCopy
             ? 0
             : static_cast<std::size_t>(bytesPerCopy - unpadded);
}

}  // namespace morvane::vesk
