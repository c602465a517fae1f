#include <array>
#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cache/entry_charge.h"
#include "cache/measurement_cache.h"
#include "cache/measurement_cache_key.h"
#include "cache/measurement_cache_key_hash.h"

namespace morvane::vesk {
namespace {

using Mutation = std::function<void(MeasurementCacheKey&)>;

// The hash written out field by field from std::hash of each field's type,
// independently of how the implementation enumerates the fields.
std::uint64_t oracleHash(const MeasurementCacheKey& k) {
  const std::hash<std::string> str;
  const std::hash<double> dbl;
  const std::hash<bool> flag;
  const std::array<std::uint64_t, 24> fieldHashes = {
      str(k.markdown),  dbl(k.real1),     flag(k.flag1),     flag(k.flag2),
      dbl(k.real2),     flag(k.flag3),    flag(k.flag4),     flag(k.flag5),
      flag(k.flag6),    flag(k.flag7),    flag(k.flag8),     flag(k.flag9),
      flag(k.flag10),   k.unsigned1,      k.unsigned2,       k.unsigned3,
      dbl(k.real3),     static_cast<std::uint8_t>(k.flavor), str(k.string1),
      str(k.string2),   static_cast<std::uint64_t>(std::int64_t{k.integer}),
      str(k.string3),   str(k.string4),   str(k.string5)};
  std::uint64_t seed = 0;
  for (std::uint64_t h : fieldHashes) {
    seed ^= h + 0x9e3779b97f4a7c15ULL + (seed << 6) + (seed >> 2);
  }
  return seed;
}

std::uint64_t hashOf(const MeasurementCacheKey& key) {
  return MeasurementCacheKeyHash{}(key);
}

MeasurementCacheKey everyFieldSet() {
  MeasurementCacheKey k{};
  k.markdown = "# Title\n\nSome *markdown*.";
  k.real1 = 12.5;
  k.flag1 = true;
  k.real2 = -3.25;
  k.flag4 = true;
  k.flag7 = true;
  k.flag10 = true;
  k.unsigned1 = 1;
  k.unsigned2 = 0xfedcba9876543210ULL;
  k.unsigned3 = 42;
  k.real3 = 1e300;
  k.flavor = MarkdownFlavor::kGitHub;
  k.string1 = "Inter";
  k.string2 = std::string("a\0b", 3);
  k.integer = -7;
  k.string3 = "en-GB";
  k.string4 = std::string(100, 'q');
  k.string5 = "theme:dark";
  return k;
}

// One change per field, each to a value that differs from the all-zero key.
std::vector<std::pair<const char*, Mutation>> oneChangePerField() {
  return {
      {"markdown", [](auto& k) { k.markdown = "x"; }},
      {"real1", [](auto& k) { k.real1 = 1.0; }},
      {"flag1", [](auto& k) { k.flag1 = true; }},
      {"flag2", [](auto& k) { k.flag2 = true; }},
      {"real2", [](auto& k) { k.real2 = 1.0; }},
      {"flag3", [](auto& k) { k.flag3 = true; }},
      {"flag4", [](auto& k) { k.flag4 = true; }},
      {"flag5", [](auto& k) { k.flag5 = true; }},
      {"flag6", [](auto& k) { k.flag6 = true; }},
      {"flag7", [](auto& k) { k.flag7 = true; }},
      {"flag8", [](auto& k) { k.flag8 = true; }},
      {"flag9", [](auto& k) { k.flag9 = true; }},
      {"flag10", [](auto& k) { k.flag10 = true; }},
      {"unsigned1", [](auto& k) { k.unsigned1 = 1; }},
      {"unsigned2", [](auto& k) { k.unsigned2 = 1; }},
      {"unsigned3", [](auto& k) { k.unsigned3 = 1; }},
      {"real3", [](auto& k) { k.real3 = 1.0; }},
      {"flavor", [](auto& k) { k.flavor = MarkdownFlavor::kGitHub; }},
      {"string1", [](auto& k) { k.string1 = "x"; }},
      {"string2", [](auto& k) { k.string2 = "x"; }},
      {"integer", [](auto& k) { k.integer = 1; }},
      {"string3", [](auto& k) { k.string3 = "x"; }},
      {"string4", [](auto& k) { k.string4 = "x"; }},
      {"string5", [](auto& k) { k.string5 = "x"; }},
  };
}

TEST(MeasurementCacheKeyLayout, MatchesTheReported64BitRecordSizes) {
  if constexpr (sizeof(void*) == 8 && sizeof(std::string) == 32) {
    EXPECT_EQ(sizeof(MeasurementCacheKey), 272u);
    EXPECT_EQ(sizeof(MeasurementCache::CacheEntry), 288u);
  }
  EXPECT_EQ(sizeof(MarkdownFlavor), 1u);
}

TEST(MeasurementCacheKeyHash, CombineStepMatchesItsDefinition) {
  EXPECT_EQ(hashCombine(0, 0), 0x9e3779b97f4a7c15ULL);
  EXPECT_EQ(hashCombine(0, 5), 0x9e3779b97f4a7c1aULL);
  // (1 << 6) + (1 >> 2) = 64 is added, then XOR with the old seed.
  EXPECT_EQ(hashCombine(1, 0), 1 ^ (0x9e3779b97f4a7c15ULL + 64));
  // Wraps modulo 2^64 instead of saturating.
  EXPECT_EQ(hashCombine(0, ~0ULL), 0x9e3779b97f4a7c14ULL);
}

TEST(MeasurementCacheKeyHash, AgreesWithPerFieldStandardHashes) {
  MeasurementCacheKey allZero{};
  EXPECT_EQ(hashOf(allZero), oracleHash(allZero));
  // The first step turns seed 0 into h(markdown) + the constant.
  EXPECT_EQ(hashCombine(0, std::hash<std::string>{}("hello")),
            std::hash<std::string>{}("hello") + 0x9e3779b97f4a7c15ULL);

  const MeasurementCacheKey full = everyFieldSet();
  EXPECT_EQ(hashOf(full), oracleHash(full));

  MeasurementCacheKey zeroBytes{};
  zeroBytes.markdown = std::string("\0\0x\0", 4);
  zeroBytes.string5 = std::string(1, '\0');
  EXPECT_EQ(hashOf(zeroBytes), oracleHash(zeroBytes));
  EXPECT_NE(hashOf(zeroBytes), hashOf(allZero));
}

TEST(MeasurementCacheKeyHash, SignExtendsTheInteger) {
  MeasurementCacheKey k{};
  k.integer = -1;
  std::uint64_t expected = 0;
  const std::hash<std::string> str;
  const std::uint64_t allOnes = ~std::uint64_t{0};
  for (int field = 0; field < 24; ++field) {
    std::uint64_t h = 0;
    if (field == 0 || field == 18 || field == 19 || field >= 21) h = str("");
    if (field == 20) h = allOnes;
    expected = hashCombine(expected, h);
  }
  EXPECT_EQ(hashOf(k), expected);
  EXPECT_EQ(hashOf(k), oracleHash(k));
}

TEST(MeasurementCacheKeyHash, HashesDoublesLikeTheStandardLibrary) {
  MeasurementCacheKey positive{};
  MeasurementCacheKey negative{};
  negative.real1 = -0.0;
  negative.real2 = -0.0;
  negative.real3 = -0.0;
  EXPECT_EQ(positive, negative);
  EXPECT_EQ(hashOf(positive), hashOf(negative));

  MeasurementCacheKey subnormal{};
  subnormal.real2 = std::numeric_limits<double>::denorm_min();
  EXPECT_NE(subnormal, positive);
  EXPECT_NE(hashOf(subnormal), hashOf(positive));
  EXPECT_EQ(hashOf(subnormal), oracleHash(subnormal));

  MeasurementCacheKey nan{};
  nan.real3 = std::numeric_limits<double>::quiet_NaN();
  EXPECT_EQ(hashOf(nan), oracleHash(nan));
  EXPECT_EQ(hashOf(nan), hashOf(nan));
}

TEST(MeasurementCacheKeyEquality, EveryFieldTakesPart) {
  const MeasurementCacheKey base{};
  for (const auto& [field, mutate] : oneChangePerField()) {
    MeasurementCacheKey changed = base;
    mutate(changed);
    EXPECT_FALSE(changed == base) << field;
    EXPECT_FALSE(base == changed) << field;
    EXPECT_NE(hashOf(changed), hashOf(base)) << field;
    EXPECT_EQ(hashOf(changed), oracleHash(changed)) << field;
  }
}

TEST(MeasurementCacheKeyEquality, StringFieldsAreNotInterchangeable) {
  MeasurementCacheKey a{};
  a.string1 = "serif";
  a.string2 = "bold";
  MeasurementCacheKey b{};
  b.string1 = "bold";
  b.string2 = "serif";
  EXPECT_NE(a, b);
  EXPECT_NE(hashOf(a), hashOf(b));
}

TEST(MeasurementCacheKeyEquality, ComparesStringsAsFullByteSequences) {
  EXPECT_EQ(MeasurementCacheKey{}, MeasurementCacheKey{});
  EXPECT_EQ(hashOf(MeasurementCacheKey{}), hashOf(MeasurementCacheKey{}));

  MeasurementCacheKey plain{};
  plain.markdown = "abc";
  MeasurementCacheKey withZero = plain;
  withZero.markdown.push_back('\0');
  EXPECT_NE(plain, withZero);

  MeasurementCacheKey roomy = plain;
  roomy.markdown.reserve(4096);
  EXPECT_EQ(plain, roomy);
  EXPECT_EQ(hashOf(plain), hashOf(roomy));
}

TEST(MeasurementCacheKeyEquality, NanKeyEqualsNothingButStillHashes) {
  for (double MeasurementCacheKey::*field :
       {&MeasurementCacheKey::real1, &MeasurementCacheKey::real2,
        &MeasurementCacheKey::real3}) {
    MeasurementCacheKey nan{};
    nan.*field = std::numeric_limits<double>::quiet_NaN();
    const MeasurementCacheKey copy = nan;
    EXPECT_FALSE(nan == nan);
    EXPECT_FALSE(copy == nan);
    EXPECT_FALSE(nan == MeasurementCacheKey{});
    EXPECT_EQ(hashOf(nan), hashOf(copy));
  }
}

TEST(MeasurementCacheKeyCopy, SharesNothingWithItsSource) {
  MeasurementCacheKey source = everyFieldSet();
  source.markdown.assign(1000, 'm');
  MeasurementCacheKey copy = source;
  EXPECT_EQ(copy, source);
  EXPECT_EQ(hashOf(copy), hashOf(source));
  EXPECT_NE(copy.markdown.data(), source.markdown.data());

  copy.markdown[0] = 'n';
  copy.string4.clear();
  EXPECT_EQ(source.markdown, std::string(1000, 'm'));
  EXPECT_EQ(source.string4, std::string(100, 'q'));
  EXPECT_NE(copy, source);
}

TEST(EntryCharge, ChargesBothCopiesOfAllSixStrings) {
  MeasurementCacheKey k{};
  EXPECT_EQ(entryCharge(k), 560u);
  k.markdown.assign(1048576, 'a');
  EXPECT_EQ(entryCharge(k), 2097712u);
  for (std::string MeasurementCacheKey::*field :
       {&MeasurementCacheKey::string1, &MeasurementCacheKey::string2,
        &MeasurementCacheKey::string3, &MeasurementCacheKey::string4,
        &MeasurementCacheKey::string5}) {
    MeasurementCacheKey other{};
    other.*field = "12345";
    EXPECT_EQ(entryCharge(other), 2u * (5 + 280));
  }
  MeasurementCacheKey boundary{};
  boundary.markdown.assign(4194024, 'b');
  EXPECT_EQ(entryCharge(boundary), MeasurementCache::kByteBudget);
}

}  // namespace
}  // namespace morvane::vesk
