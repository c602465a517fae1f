// Writes the hand-made seed inputs of the cache fuzzer, or checks that a
// directory holds them byte for byte:
//
//   make_seed_corpus DIR          writes DIR/seed-*.bin
//   make_seed_corpus --check DIR  fails unless DIR/seed-*.bin are current
//
// Each seed drives one behaviour into the state where it matters, so that
// fuzzing starts from inputs that already reach both limits, NaN keys, the
// removal by markdown and the calls made with stored keys.

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "tests/fuzz/fuzz_input_format.h"

namespace morvane::vesk::fuzz {
namespace {

// Builds one input in the fuzzer's format.
class Seed {
 public:
  [[nodiscard]] std::vector<std::uint8_t> bytes() const { return bytes_; }

  Seed& set(std::uint8_t slot, std::uint8_t height = 3) {
    return op(Operation::kSet, slot).raw(height);
  }
  Seed& get(std::uint8_t slot) { return op(Operation::kGet, slot); }
  Seed& copy(std::uint8_t from, std::uint8_t to) {
    return op(Operation::kCopyKey, to).raw(from);
  }
  Seed& remove(std::uint8_t slot) { return op(Operation::kRemove, slot); }
  Seed& clear() { return op(Operation::kClear, 0); }
  Seed& getOrMeasure(std::uint8_t slot, std::uint8_t height = 3) {
    return op(Operation::kGetOrMeasure, slot).raw(height);
  }
  // kEntryLimits[entries], kByteBudgets[budget].
  Seed& limits(std::uint8_t entries, std::uint8_t budget) {
    return op(Operation::kSetLimits, entries).raw(budget);
  }
  // `count` keys derived from the slot's key, 1 to 256.
  Seed& bulkSet(std::uint8_t slot, int count) {
    return op(Operation::kBulkSet, slot).raw(bulkCount(count));
  }
  Seed& bulkGet(std::uint8_t slot, int count) {
    return op(Operation::kBulkGet, slot).raw(bulkCount(count));
  }
  // `action`: 0 set, 1 get, 2 remove markdown; `byReference` passes the
  // cache's own key; `fromBack` counts `position` from the least recently
  // used entry.
  Seed& stored(std::uint8_t action, bool byReference, std::uint8_t position,
               bool fromBack = false) {
    op(Operation::kStoredEntry,
       static_cast<std::uint8_t>(action | (byReference ? 4 : 0) |
                                 (fromBack ? 8 : 0)))
        .raw(position);
    if (action == 0) raw(5);  // height code
    return *this;
  }

  // Field setters on pool slot `slot`.
  Seed& text(std::uint8_t slot, Field field, std::uint8_t length, char fill) {
    return mutate(slot, field)
        .raw(stringByte(StringMode::kFilled, length))
        .raw(static_cast<std::uint8_t>(fill));
  }
  Seed& rawText(std::uint8_t slot, Field field,
                const std::vector<std::uint8_t>& content) {
    mutate(slot, field)
        .raw(stringByte(StringMode::kRaw,
                        static_cast<std::uint8_t>(content.size())));
    for (const std::uint8_t c : content) raw(c);
    return *this;
  }
  // kBigLengths[index] + delta copies of `fill`.
  Seed& bigText(std::uint8_t slot, Field field, std::uint8_t index,
                std::int8_t delta, char fill) {
    return mutate(slot, field)
        .raw(stringByte(StringMode::kBigFilled, index))
        .raw(static_cast<std::uint8_t>(delta))
        .raw(static_cast<std::uint8_t>(fill));
  }
  Seed& bigTextWithLast(std::uint8_t slot, Field field, std::uint8_t index,
                        char fill, char last) {
    return mutate(slot, field)
        .raw(stringByte(StringMode::kBigWithLastByte, index))
        .raw(0)
        .raw(static_cast<std::uint8_t>(fill))
        .raw(static_cast<std::uint8_t>(last));
  }
  Seed& real(std::uint8_t slot, Field field, DoubleCode code) {
    return mutate(slot, field).raw(static_cast<std::uint8_t>(code));
  }
  Seed& rawReal(std::uint8_t slot, Field field, std::uint64_t bits) {
    real(slot, field, DoubleCode::kRaw);
    for (int i = 0; i < 8; ++i) raw(static_cast<std::uint8_t>(bits >> (8 * i)));
    return *this;
  }
  Seed& flag(std::uint8_t slot, Field field, bool value) {
    return mutate(slot, field).raw(value ? 1 : 0);
  }
  Seed& number(std::uint8_t slot, Field field, std::uint8_t code,
               std::uint8_t value) {
    return mutate(slot, field).raw(code).raw(value);
  }
  Seed& flavor(std::uint8_t slot, std::uint8_t value) {
    return mutate(slot, Field::kFlavor).raw(value);
  }

 private:
  Seed& op(Operation operation, std::uint8_t argument) {
    return raw(operationByte(operation, argument));
  }
  Seed& mutate(std::uint8_t slot, Field field) {
    return op(Operation::kMutate, slot).raw(static_cast<std::uint8_t>(field));
  }
  static std::uint8_t bulkCount(int count) {
    return static_cast<std::uint8_t>(count - 1);
  }
  Seed& raw(std::uint8_t byte) {
    bytes_.push_back(byte);
    return *this;
  }

  std::vector<std::uint8_t> bytes_;
};

// Each line of a seed is one step towards the state it exercises.
// clang-format off
std::vector<std::pair<std::string, Seed>> seeds() {
  std::vector<std::pair<std::string, Seed>> all;
  all.emplace_back(
      "seed-set-get-update",
      Seed()
          .text(1, Field::kMarkdown, 5, 'b')
          .text(2, Field::kMarkdown, 5, 'c')
          .set(0).set(1).set(2)
          .get(0).get(3)
          .set(1, 7)  // an update: moves to the front, evicts nothing
          .get(2).get(1));

  all.emplace_back(
      "seed-entry-limit",
      Seed()
          .text(0, Field::kMarkdown, 3, 'k')
          .copy(0, 1).number(1, Field::kUnsigned2, 0, 1)
          .copy(0, 2).number(2, Field::kUnsigned2, 0, 2)
          .bulkSet(0, 256).bulkSet(1, 256)
          .bulkGet(0, 64)
          .bulkSet(2, 129)  // 641 keys in all
          .set(3).get(0)
          .bulkSet(0, 128));

  all.emplace_back(
      "seed-byte-budget",
      Seed()
          .bigText(0, Field::kMarkdown, 3, 0, 'a')  // charged 2 MiB each
          .bigText(1, Field::kMarkdown, 3, 0, 'b')
          .bigText(2, Field::kMarkdown, 3, 0, 'c')
          .bigText(3, Field::kMarkdown, 3, 0, 'd')
          .bigText(4, Field::kMarkdown, 3, 0, 'e')
          .set(0).set(1).set(2).set(3)  // exactly the budget
          .get(0)
          .set(4)  // evicts 'b', the least recently used
          .get(1).get(0).get(4));

  all.emplace_back(
      "seed-largest-key",
      Seed()
          .text(0, Field::kMarkdown, 4, 's')
          .set(0)
          .bigText(1, Field::kMarkdown, 6, 0, 'm')  // charged exactly 8 MiB
          .set(1).get(0).get(1)
          .bigText(2, Field::kMarkdown, 7, 0, 'o')  // one byte too long
          .set(2).get(2).get(1)
          .bigText(3, Field::kString4, 6, 0, 'x')
          .text(3, Field::kMarkdown, 1, 'x')  // one byte over, in two fields
          .set(3).get(1));

  all.emplace_back(
      "seed-both-limits",
      Seed()
          .bigText(0, Field::kMarkdown, 0, 0, 'q')  // 512 of these fill 8 MiB
          .copy(0, 1).number(1, Field::kUnsigned2, 0, 1)
          .bulkSet(0, 256).bulkSet(1, 256)  // 512 entries, exactly 8 MiB
          .bigText(2, Field::kMarkdown, 0, 1, 'q')
          .set(2)  // evicts one entry for each limit
          .text(3, Field::kMarkdown, 9, 'r')
          .set(3).set(3)
          .bulkGet(0, 256));

  all.emplace_back(
      "seed-nan-keys",
      Seed()
          .text(0, Field::kMarkdown, 3, 'n')
          .real(0, Field::kReal1, DoubleCode::kQuietNaN)
          .set(0).set(0).get(0)
          .copy(0, 1)
          .real(1, Field::kReal1, DoubleCode::kOne)
          .real(1, Field::kReal3, DoubleCode::kSignalingNaN)
          .set(1).get(1)
          .real(2, Field::kReal2, DoubleCode::kNegativeNaN)
          .bulkSet(2, 141)
          .remove(0)
          .set(0).remove(2));

  all.emplace_back(
      "seed-signed-zero-subnormal",
      Seed()
          .real(0, Field::kReal2, DoubleCode::kPositiveZero)
          .real(1, Field::kReal2, DoubleCode::kNegativeZero)
          .set(0).get(1)
          .set(1, 9).get(0)
          .real(2, Field::kReal3, DoubleCode::kDenormMin)
          .real(3, Field::kReal3, DoubleCode::kNegativeDenormMin)
          .set(2).get(3).set(3).get(2)
          .real(4, Field::kReal1, DoubleCode::kLargestSubnormal)
          .real(5, Field::kReal1, DoubleCode::kSmallestNormal)
          .set(4).get(5)
          .rawReal(6, Field::kReal1, 0x8000000000000000)  // -0.0 again
          .get(6).get(0));

  all.emplace_back(
      "seed-every-field",
      Seed()
          .set(0)
          .copy(0, 1).text(1, Field::kString1, 5, 'f').set(1)
          .copy(0, 1).text(1, Field::kString2, 1, '\0').set(1)
          .copy(0, 1).text(1, Field::kString3, 2, 'g').set(1)
          .copy(0, 1).text(1, Field::kString4, 3, 'h').set(1)
          .copy(0, 1).text(1, Field::kString5, 4, 'i').set(1)
          .copy(0, 1).flag(1, Field::kFlag1, true).set(1)
          .copy(0, 1).flag(1, Field::kFlag2, true).set(1)
          .copy(0, 1).flag(1, Field::kFlag3, true).set(1)
          .copy(0, 1).flag(1, Field::kFlag4, true).set(1)
          .copy(0, 1).flag(1, Field::kFlag5, true).set(1)
          .copy(0, 1).flag(1, Field::kFlag6, true).set(1)
          .copy(0, 1).flag(1, Field::kFlag7, true).set(1)
          .copy(0, 1).flag(1, Field::kFlag8, true).set(1)
          .copy(0, 1).flag(1, Field::kFlag9, true).set(1)
          .copy(0, 1).flag(1, Field::kFlag10, true).set(1)
          .copy(0, 1).number(1, Field::kUnsigned1, 2, 0).set(1)
          .copy(0, 1).number(1, Field::kUnsigned2, 3, 63).set(1)
          .copy(0, 1).number(1, Field::kUnsigned3, 0, 1).set(1)
          .copy(0, 1).number(1, Field::kInteger, 3, 1).set(1)
          .copy(0, 1).number(1, Field::kInteger, 2, 0).set(1)
          .copy(0, 1).flavor(1, 1).set(1)
          .copy(0, 1).flavor(1, 200).set(1)
          .copy(0, 1).real(1, Field::kReal1, DoubleCode::kInfinity).set(1)
          .copy(0, 1).real(1, Field::kReal2, DoubleCode::kLargest).set(1)
          .copy(0, 1).real(1, Field::kReal3, DoubleCode::kNegativeInfinity)
          .set(1)
          .get(0).get(2));

  all.emplace_back(
      "seed-remove-markdown",
      Seed()
          .text(0, Field::kMarkdown, 4, 'm')
          .copy(0, 1).number(1, Field::kInteger, 0, 7)
          .copy(0, 2).text(2, Field::kString1, 2, 'z')
          .text(3, Field::kMarkdown, 3, 'm')
          .rawText(4, Field::kMarkdown, {'m', 'm', 'm', 'n'})
          .set(0).set(3).set(1).set(4).set(2).set(5)
          .remove(0)  // removes 0, 1 and 2 only
          .get(3).get(4).get(5).get(0)
          .remove(6)  // the empty markdown: slot 5's key
          .remove(7));

  all.emplace_back(
      "seed-clear",
      Seed()
          .text(0, Field::kMarkdown, 2, 'c')
          .bulkSet(0, 200)
          .clear()
          .get(0)
          .bulkSet(0, 10)
          .clear().clear()
          .set(0).get(0));

  all.emplace_back(
      "seed-big-strings-everywhere",
      Seed()
          .bigText(0, Field::kString1, 3, 0, '1')
          .bigText(1, Field::kString2, 3, 0, '2')
          .bigText(2, Field::kString3, 3, 0, '3')
          .bigText(3, Field::kString5, 3, 0, '5')
          .bigTextWithLast(4, Field::kMarkdown, 3, 'x', 'y')
          .bigTextWithLast(5, Field::kMarkdown, 3, 'x', 'z')
          .set(0).set(1).set(2).set(3).set(4)  // evicts slot 0's key
          .get(0).get(5).set(5).get(4).get(5));

  all.emplace_back(
      "seed-stored-entries",
      Seed()
          .text(0, Field::kMarkdown, 2, 'p')
          .bulkSet(0, 13)
          .real(1, Field::kReal1, DoubleCode::kQuietNaN)
          .set(1).set(1)
          .stored(0, false, 12)
          .stored(1, false, 5)
          .stored(1, false, 0)  // a NaN key: never hits, even as a copy
          .stored(0, false, 1)  // and inserts again
          .stored(2, false, 3)
          .stored(1, true, 2)
          .stored(0, true, 4)
          .stored(1, false, 0, true)
          .stored(0, true, 1, true));

  all.emplace_back(
      "seed-limits",
      Seed()
          .text(0, Field::kMarkdown, 2, 'l')
          .bulkSet(0, 64)
          .limits(5, 10)          // 8 entries, 8 MiB: evicts 56
          .limits(14, 10)         // no entries: refused
          .limits(15, 1)          // a budget below an empty key: refused
          .limits(13, 15)         // 4096 entries, 64 MiB: grows the index
          .bulkSet(0, 256).bulkSet(1, 256).bulkGet(0, 256)
          .limits(15, 4)          // bounded by 16384 bytes only
          .limits(0, 2)           // the smallest usable limits
          .getOrMeasure(0).getOrMeasure(0).getOrMeasure(1)
          .bigText(2, Field::kMarkdown, 3, 0, 'b')  // charged 2 MiB
          .limits(9, 15)
          .getOrMeasure(2).getOrMeasure(2)
          .limits(9, 6)           // 1 MiB: evicts it, then refuses it
          .getOrMeasure(2));
  return all;
}
// clang-format on

bool readFile(const std::filesystem::path& path,
              std::vector<std::uint8_t>& contents) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return false;
  contents.assign(std::istreambuf_iterator<char>(file),
                  std::istreambuf_iterator<char>());
  return true;
}

int run(bool checking, const std::filesystem::path& directory) {
  int stale = 0;
  for (const auto& [name, seed] : seeds()) {
    const std::filesystem::path path = directory / (name + ".bin");
    const std::vector<std::uint8_t> bytes = seed.bytes();
    if (checking) {
      std::vector<std::uint8_t> found;
      if (!readFile(path, found) || found != bytes) {
        std::fprintf(stderr, "%s is missing or out of date\n",
                     path.string().c_str());
        ++stale;
      }
      continue;
    }
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    if (!file) {
      std::fprintf(stderr, "cannot write %s\n", path.string().c_str());
      return 1;
    }
  }
  if (stale != 0) {
    std::fprintf(stderr, "regenerate the seeds with: make_seed_corpus %s\n",
                 directory.string().c_str());
    return 1;
  }
  return 0;
}

}  // namespace
}  // namespace morvane::vesk::fuzz

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() == 1) return morvane::vesk::fuzz::run(false, args[0]);
  if (args.size() == 2 && args[0] == "--check") {
    return morvane::vesk::fuzz::run(true, args[1]);
  }
  std::fprintf(stderr, "usage: make_seed_corpus [--check] DIR\n");
  return 2;
}
