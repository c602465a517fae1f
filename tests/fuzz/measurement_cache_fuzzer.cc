// libFuzzer target: decodes its input (see fuzz_input_format.h) into calls of
// set, get, removeMatchingMarkdown and clear on a fresh MeasurementCache and
// on ReferenceCache, and after every call compares everything observable:
// hit or miss, the value copied out (or left alone), entryCount(), the
// front-to-back order of the stored keys and values, each entry's charge and
// the accounted bytes; it also runs the invariant audit. Any difference
// aborts with a description on stderr.

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <stdexcept>
#include <string>

#include "cache/cached_size.h"
#include "cache/entry_charge.h"
#include "cache/measurement_cache.h"
#include "cache/measurement_cache_key.h"
#include "tests/cache_audit.h"
#include "tests/fuzz/fuzz_input_format.h"
#include "tests/reference_cache.h"

namespace morvane::vesk::fuzz {
namespace {

using testing::ReferenceCache;
using testing::referenceCharge;
using testing::sameKey;
using testing::sameSize;

// Caps that keep one input's run time bounded whatever it encodes.
constexpr std::uint64_t kMaxCallsPerInput = 4096;
constexpr std::uint64_t kMaxBulkBytes = std::uint64_t{64} * 1024 * 1024;

// Totals over the whole process, printed at exit.
struct Totals {
  std::uint64_t inputs = 0;
  std::uint64_t calls = 0;
  std::uint64_t hits = 0;
  std::uint64_t misses = 0;
  std::uint64_t callsWithFullCount = 0;  // made with 512 entries stored
  ReferenceCache::Counts sets;
};
Totals totals;

void printTotals() {
  const auto n = [](std::uint64_t value) {
    return static_cast<unsigned long long>(value);
  };
  std::fprintf(stderr,
               "measurement cache fuzzer: %llu inputs, %llu cache calls "
               "(%llu hits, %llu misses, %llu calls with 512 entries "
               "stored; set evicted %llu for the entry limit and %llu for "
               "the byte budget, refused %llu keys)\n",
               n(totals.inputs), n(totals.calls), n(totals.hits),
               n(totals.misses), n(totals.callsWithFullCount),
               n(totals.sets.evictedForCount), n(totals.sets.evictedForBytes),
               n(totals.sets.refused));
}

// Reads the input front to back; past its end every byte reads as zero.
class Reader {
 public:
  Reader(const std::uint8_t* data, std::size_t size)
      : data_(data), size_(size) {}

  [[nodiscard]] bool atEnd() const { return position_ >= size_; }

  std::uint8_t byte() { return atEnd() ? 0 : data_[position_++]; }

  std::uint64_t littleEndian(int bytes) {
    std::uint64_t value = 0;
    for (int i = 0; i < bytes; ++i) {
      value |= std::uint64_t{byte()} << (8 * i);
    }
    return value;
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t position_ = 0;
};

std::string decodeString(Reader& in) {
  const std::uint8_t code = in.byte();
  const std::size_t shortLength = code & 63;
  switch (static_cast<StringMode>(code >> 6)) {
    case StringMode::kFilled:
      // Braces would pick std::string's initializer_list constructor and
      // build a two-character string.
      // NOLINTNEXTLINE(modernize-return-braced-init-list)
      return std::string(shortLength, static_cast<char>(in.byte()));
    case StringMode::kRaw: {
      std::string text;
      for (std::size_t i = 0; i < shortLength; ++i) {
        text.push_back(static_cast<char>(in.byte()));
      }
      return text;
    }
    case StringMode::kBigFilled:
    case StringMode::kBigWithLastByte: {
      const auto delta = static_cast<std::int8_t>(in.byte());
      // Every base length is at least 256, so the sum stays positive.
      const std::size_t length = kBigLengths[code & 15] + delta;
      std::string text(length, static_cast<char>(in.byte()));
      if (static_cast<StringMode>(code >> 6) == StringMode::kBigWithLastByte) {
        text.back() = static_cast<char>(in.byte());
      }
      return text;
    }
  }
  return {};
}

double decodeDouble(Reader& in) {
  using Limits = std::numeric_limits<double>;
  switch (static_cast<DoubleCode>(in.byte() % 16)) {
    case DoubleCode::kPositiveZero:
      return 0.0;
    case DoubleCode::kNegativeZero:
      return -0.0;
    case DoubleCode::kQuietNaN:
      return Limits::quiet_NaN();
    case DoubleCode::kSignalingNaN:
      return std::bit_cast<double>(std::uint64_t{0x7ff0000000000001});
    case DoubleCode::kNegativeNaN:
      return std::bit_cast<double>(std::uint64_t{0xfff8000000000000});
    case DoubleCode::kDenormMin:
      return Limits::denorm_min();
    case DoubleCode::kNegativeDenormMin:
      return -Limits::denorm_min();
    case DoubleCode::kLargestSubnormal:
      return std::bit_cast<double>(std::uint64_t{0x000fffffffffffff});
    case DoubleCode::kSmallestNormal:
      return Limits::min();
    case DoubleCode::kInfinity:
      return Limits::infinity();
    case DoubleCode::kNegativeInfinity:
      return -Limits::infinity();
    case DoubleCode::kOne:
      return 1.0;
    case DoubleCode::kLargest:
      return Limits::max();
    case DoubleCode::kRaw:
      return std::bit_cast<double>(in.littleEndian(8));
    case DoubleCode::kSmallInteger:
      return in.byte();
    case DoubleCode::kNegativeSmallInteger:
      return -static_cast<double>(in.byte());
  }
  return 0.0;
}

std::uint64_t decodeUnsigned(Reader& in) {
  switch (in.byte() % 4) {
    case 0:
      return in.byte();
    case 1:
      return in.littleEndian(8);
    case 2:
      return std::numeric_limits<std::uint64_t>::max() - in.byte();
    default:
      return std::uint64_t{1} << (in.byte() % 64);
  }
}

std::int32_t decodeInteger(Reader& in) {
  switch (in.byte() % 4) {
    case 0:
      return in.byte();
    case 1:
      return static_cast<std::int32_t>(
          static_cast<std::uint32_t>(in.littleEndian(4)));
    case 2:
      return std::numeric_limits<std::int32_t>::min() + in.byte();
    default:
      return -static_cast<std::int32_t>(in.byte());
  }
}

double decodeHeight(std::uint8_t code) {
  switch (code % 8) {
    case 0:
      return std::numeric_limits<double>::quiet_NaN();
    case 1:
      return -0.0;
    case 2:
      return 0.0;
    default:
      return code;
  }
}

void mutateField(MeasurementCacheKey& key, Reader& in) {
  const std::uint8_t selector = in.byte() % kFieldSelectorCount;
  const auto field = static_cast<Field>(selector < kFieldCount ? selector : 0);
  auto flag = [&in] { return (in.byte() & 1) != 0; };
  // One line per field: the switch reads as the table it is.
  // clang-format off
  switch (field) {
    case Field::kMarkdown: key.markdown = decodeString(in); break;
    case Field::kReal1: key.real1 = decodeDouble(in); break;
    case Field::kFlag1: key.flag1 = flag(); break;
    case Field::kFlag2: key.flag2 = flag(); break;
    case Field::kReal2: key.real2 = decodeDouble(in); break;
    case Field::kFlag3: key.flag3 = flag(); break;
    case Field::kFlag4: key.flag4 = flag(); break;
    case Field::kFlag5: key.flag5 = flag(); break;
    case Field::kFlag6: key.flag6 = flag(); break;
    case Field::kFlag7: key.flag7 = flag(); break;
    case Field::kFlag8: key.flag8 = flag(); break;
    case Field::kFlag9: key.flag9 = flag(); break;
    case Field::kFlag10: key.flag10 = flag(); break;
    case Field::kUnsigned1: key.unsigned1 = decodeUnsigned(in); break;
    case Field::kUnsigned2: key.unsigned2 = decodeUnsigned(in); break;
    case Field::kUnsigned3: key.unsigned3 = decodeUnsigned(in); break;
    case Field::kReal3: key.real3 = decodeDouble(in); break;
    case Field::kFlavor:
      key.flavor = static_cast<MarkdownFlavor>(in.byte());
      break;
    case Field::kString1: key.string1 = decodeString(in); break;
    case Field::kString2: key.string2 = decodeString(in); break;
    case Field::kInteger: key.integer = decodeInteger(in); break;
    case Field::kString3: key.string3 = decodeString(in); break;
    case Field::kString4: key.string4 = decodeString(in); break;
    case Field::kString5: key.string5 = decodeString(in); break;
  }
  // clang-format on
}

std::string hexBits(double value) {
  std::array<char, 24> text{};
  std::snprintf(
      text.data(), text.size(), "%016llx",
      static_cast<unsigned long long>(std::bit_cast<std::uint64_t>(value)));
  return text.data();
}

std::string describeString(const std::string& text) {
  std::string description = std::to_string(text.size()) + " bytes";
  if (!text.empty()) {
    description += " starting " + std::to_string(std::uint8_t(text.front())) +
                   " ending " + std::to_string(std::uint8_t(text.back()));
  }
  return description;
}

std::string describeKey(const MeasurementCacheKey& key) {
  std::string flags;
  for (const bool flag :
       {key.flag1, key.flag2, key.flag3, key.flag4, key.flag5, key.flag6,
        key.flag7, key.flag8, key.flag9, key.flag10}) {
    flags.push_back(flag ? '1' : '0');
  }
  return "{markdown " + describeString(key.markdown) + ", reals " +
         hexBits(key.real1) + " " + hexBits(key.real2) + " " +
         hexBits(key.real3) + ", flags " + flags + ", unsigned " +
         std::to_string(key.unsigned1) + " " + std::to_string(key.unsigned2) +
         " " + std::to_string(key.unsigned3) + ", flavor " +
         std::to_string(static_cast<unsigned>(key.flavor)) + ", integer " +
         std::to_string(key.integer) + ", strings " +
         describeString(key.string1) + " / " + describeString(key.string2) +
         " / " + describeString(key.string3) + " / " +
         describeString(key.string4) + " / " + describeString(key.string5) +
         "}";
}

std::string describeSize(CachedSize size) {
  return "{" + hexBits(size.width) + ", " + hexBits(size.height) + "}";
}

// Runs one input against a fresh cache and a fresh reference.
class Session {
 public:
  void run(Reader& in) {
    while (!in.atEnd() && calls_ < kMaxCallsPerInput) {
      const std::uint8_t opByte = in.byte();
      const std::uint8_t argument = opByte >> 4;
      MeasurementCacheKey& slotKey = pool_[argument % kPoolSize];
      switch (kOperationOfNibble[opByte & 15]) {
        case Operation::kSet:
          set(slotKey, slotKey, decodeHeight(in.byte()));
          break;
        case Operation::kGet:
          get(slotKey, slotKey);
          break;
        case Operation::kMutate:
          mutateField(slotKey, in);
          break;
        case Operation::kCopyKey:
          slotKey = pool_[in.byte() % kPoolSize];
          break;
        case Operation::kRemove:
          remove(slotKey.markdown, slotKey.markdown);
          break;
        case Operation::kClear:
          if (argument == 0) {
            clear();
          } else {
            get(slotKey, slotKey);
          }
          break;
        case Operation::kBulkSet:
        case Operation::kBulkGet:
          bulk(kOperationOfNibble[opByte & 15] == Operation::kBulkSet, slotKey,
               in.byte());
          break;
        case Operation::kStoredEntry:
          storedEntry(argument, in);
          break;
        case Operation::kGetOrMeasure:
          getOrMeasure(slotKey, decodeHeight(in.byte()));
          break;
        case Operation::kSetLimits:
          setLimits(kEntryLimits[argument], kByteBudgets[in.byte() % 16]);
          break;
      }
    }
  }

  void addCounts(ReferenceCache::Counts& sum) const {
    sum.refused += model_.counts().refused;
    sum.evictedForCount += model_.counts().evictedForCount;
    sum.evictedForBytes += model_.counts().evictedForBytes;
  }

 private:
  [[noreturn]] void fail(const std::string& what) const {
    std::fprintf(stderr,
                 "measurement cache fuzzer: after cache call %llu of this "
                 "input: %s\n",
                 static_cast<unsigned long long>(calls_), what.c_str());
    std::abort();
  }

  void set(const MeasurementCacheKey& cacheKey,
           const MeasurementCacheKey& modelKey, double height) {
    const CachedSize size{nextWidth_, height};
    nextWidth_ += 1;
    cache_.set(cacheKey, size);
    model_.set(modelKey, size);
    check("set");
  }

  void get(const MeasurementCacheKey& cacheKey,
           const MeasurementCacheKey& modelKey) {
    // A NaN with a payload no decoded value has: a miss must leave it.
    const CachedSize untouched{
        std::bit_cast<double>(std::uint64_t{0x7ff4000000000bad}), -0.0};
    CachedSize fromCache = untouched;
    CachedSize fromModel = untouched;
    const bool hit = cache_.get(cacheKey, fromCache);
    const bool expected = model_.get(modelKey, fromModel);
    if (hit != expected) {
      fail(std::string("get ") + (hit ? "hit" : "missed") + " but should " +
           (expected ? "hit" : "miss") + " for " + describeKey(modelKey));
    }
    if (!sameSize(fromCache, fromModel)) {
      fail("get gave " + describeSize(fromCache) + " instead of " +
           describeSize(fromModel) + " for " + describeKey(modelKey));
    }
    ++(hit ? totals.hits : totals.misses);
    check("get");
  }

  void getOrMeasure(const MeasurementCacheKey& key, double height) {
    const CachedSize measured{nextWidth_, height};
    nextWidth_ += 1;
    bool called = false;
    const CachedSize fromCache = cache_.getOrMeasure(key, [&] {
      called = true;
      return measured;
    });
    CachedSize fromModel;
    const bool expectedHit = model_.get(key, fromModel);
    if (!expectedHit) {
      model_.set(key, measured);
      fromModel = measured;
    }
    if (called == expectedHit) {
      fail(std::string("getOrMeasure ") +
           (called ? "measured" : "did not measure") + " " + describeKey(key));
    }
    if (!sameSize(fromCache, fromModel)) {
      fail("getOrMeasure gave " + describeSize(fromCache) + " instead of " +
           describeSize(fromModel) + " for " + describeKey(key));
    }
    check("getOrMeasure");
  }

  void setLimits(std::size_t maxEntries, std::uint64_t byteBudget) {
    const bool usable = maxEntries != 0 && byteBudget >= kSmallestEntryCharge;
    try {
      cache_.setLimits({maxEntries, byteBudget});
      if (!usable) fail("setLimits took unusable limits");
    } catch (const std::invalid_argument&) {
      if (usable) fail("setLimits refused usable limits");
    }
    if (usable) {
      model_.setLimits(maxEntries, byteBudget);
      limits_ = {maxEntries, byteBudget};
    }
    if (cache_.limits() != limits_) fail("limits() is not what was set");
    check("setLimits");
  }

  void remove(const std::string& cacheMarkdown,
              const std::string& modelMarkdown) {
    cache_.removeMatchingMarkdown(cacheMarkdown);
    model_.removeMatchingMarkdown(modelMarkdown);
    check("removeMatchingMarkdown");
  }

  void clear() {
    cache_.clear();
    model_.clear();
    check("clear");
  }

  // Sets or gets keys derived from `base` by counting up unsigned3: the way
  // an input reaches the entry limit with a few bytes.
  void bulk(bool setting, const MeasurementCacheKey& base, std::uint8_t n) {
    const std::uint64_t charge = referenceCharge(base);
    std::uint64_t count = std::uint64_t{n} + 1;
    if (count * charge > kMaxBulkBytes) {
      count = std::max<std::uint64_t>(1, kMaxBulkBytes / charge);
    }
    MeasurementCacheKey derived = base;
    for (std::uint64_t i = 0; i < count && calls_ < kMaxCallsPerInput; ++i) {
      derived.unsigned3 = base.unsigned3 + i;
      if (setting) {
        set(derived, derived, static_cast<double>(i));
      } else {
        get(derived, derived);
      }
    }
  }

  // Calls the cache with a stored entry's key (or markdown), either by
  // reference into the cache itself or as a copy; the reference gets its own
  // copy of the same key.
  void storedEntry(std::uint8_t argument, Reader& in) {
    const std::uint8_t position = in.byte();
    const auto& modelEntries = model_.entries();
    if (modelEntries.empty()) return;
    const std::size_t fromFront = position % modelEntries.size();
    const std::size_t wanted =
        (argument & 8) != 0 ? modelEntries.size() - 1 - fromFront : fromFront;
    const MeasurementCacheKey* stored = nullptr;
    std::size_t at = 0;
    cache_.forEachEntry([&](const MeasurementCache::CacheEntry& entry) {
      if (at++ == wanted) stored = &entry.key;
    });
    if (stored == nullptr) fail("forEachEntry visited too few entries");
    const MeasurementCacheKey modelKey = modelEntries[wanted].key();
    const bool byReference = (argument & 4) != 0;
    MeasurementCacheKey copy;
    if (!byReference) copy = *stored;
    const MeasurementCacheKey& cacheKey = byReference ? *stored : copy;
    switch (argument & 3) {
      case 1:
        get(cacheKey, modelKey);
        break;
      case 2:
        remove(cacheKey.markdown, modelKey.markdown);
        break;
      default:
        set(cacheKey, modelKey, decodeHeight(in.byte()));
        break;
    }
  }

  // Compares everything the cache shows with the reference.
  void check(const char* call) {
    ++calls_;
    ++totals.calls;
    const auto& expected = model_.entries();
    if (expected.size() == limits_.maxEntries) ++totals.callsWithFullCount;
    if (cache_.entryCount() != expected.size()) {
      fail(std::string(call) + ": entryCount() " +
           std::to_string(cache_.entryCount()) + ", expected " +
           std::to_string(expected.size()));
    }
    std::size_t visited = 0;
    std::uint64_t charged = 0;
    cache_.forEachEntry([&](const MeasurementCache::CacheEntry& entry) {
      const std::size_t at = visited++;
      if (at >= expected.size()) {
        fail(std::string(call) + ": forEachEntry visited more than " +
             std::to_string(expected.size()) + " entries");
      }
      if (!sameKey(entry.key, expected[at].key())) {
        fail(std::string(call) + ": entry " + std::to_string(at) +
             " from the front has key " + describeKey(entry.key) +
             ", expected " + describeKey(expected[at].key()));
      }
      if (!sameSize(entry.size, expected[at].size)) {
        fail(std::string(call) + ": entry " + std::to_string(at) +
             " from the front has value " + describeSize(entry.size) +
             ", expected " + describeSize(expected[at].size));
      }
      const std::uint64_t charge = entryCharge(entry.key);
      if (charge != referenceCharge(entry.key)) {
        fail(std::string(call) + ": entryCharge " + std::to_string(charge) +
             ", expected " + std::to_string(referenceCharge(entry.key)));
      }
      charged += charge;
    });
    if (visited != expected.size()) {
      fail(std::string(call) + ": forEachEntry visited " +
           std::to_string(visited) + " entries, expected " +
           std::to_string(expected.size()));
    }
    const MeasurementCacheInspector inspector(cache_);
    if (charged != model_.bytes() || inspector.accountedBytes() != charged) {
      fail(std::string(call) + ": entries charge " + std::to_string(charged) +
           " bytes, the cache accounts " +
           std::to_string(inspector.accountedBytes()) + ", expected " +
           std::to_string(model_.bytes()));
    }
    if (expected.size() > limits_.maxEntries || charged > limits_.byteBudget) {
      fail(std::string(call) + ": the reference broke a limit");
    }
    if (const auto audit = inspector.invariantsHold(); !audit) {
      fail(std::string(call) + ": invariant audit: " + audit.message());
    }
  }

  MeasurementCache cache_;
  ReferenceCache model_;
  MeasurementCacheLimits limits_;
  std::array<MeasurementCacheKey, kPoolSize> pool_{};
  std::uint64_t calls_ = 0;
  double nextWidth_ = 1;
};

}  // namespace
}  // namespace morvane::vesk::fuzz

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
  std::atexit(morvane::vesk::fuzz::printTotals);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  using namespace morvane::vesk::fuzz;
  ++totals.inputs;
  Reader in(data, size);
  Session session;
  session.run(in);
  session.addCounts(totals.sets);
  return 0;
}
