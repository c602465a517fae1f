#include "benchmarks/key_bytes.h"

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <tuple>
#include <type_traits>

namespace morvane::vesk {
namespace {

static_assert(std::endian::native == std::endian::little,
              "string lengths are written in the machine's byte order");

template <typename Field>
void appendField(const Field& field, std::string& out) {
  if constexpr (std::is_same_v<Field, std::string>) {
    const std::uint64_t length = field.size();
    out.append(reinterpret_cast<const char*>(&length), sizeof length);
    out.append(field);
  } else {
    static_assert(std::is_trivially_copyable_v<Field>);
    std::array<char, sizeof(Field)> bytes{};
    std::memcpy(bytes.data(), &field, sizeof(Field));
    out.append(bytes.data(), bytes.size());
  }
}

}  // namespace

void serializeKey(const MeasurementCacheKey& key, std::string& out) {
  out.clear();
  out.reserve(kKeyBytesFixedPart + key.markdown.size() + key.string1.size() +
              key.string2.size() + key.string3.size() + key.string4.size() +
              key.string5.size());
  std::apply([&out](const auto&... field) { (appendField(field, out), ...); },
             keyFields(key));
}

}  // namespace morvane::vesk
