#ifndef VESK_TESTS_FUZZ_FUZZ_INPUT_FORMAT_H_
#define VESK_TESTS_FUZZ_FUZZ_INPUT_FORMAT_H_

#include <array>
#include <cstddef>
#include <cstdint>

// The byte format the cache fuzzer decodes, shared by the fuzzer and by the
// seed corpus generator so that the two cannot drift apart.
//
// An input is a sequence of operations. Each starts with one operation byte:
// its low nibble picks the operation (through kOperationOfNibble), its high
// nibble is the operation's argument. Operations read further bytes as listed
// below. Reading past the end yields zero bytes, so every input decodes; the
// decoder stops at the first operation byte past the end.
//
// The decoder keeps a pool of kPoolSize keys (all value-initialised at the
// start); "slot" below is `argument % kPoolSize`.
//
//   kSet          slot; 1 byte height code. Stores a value whose width is a
//                 per-input counter, so every stored value is distinct.
//   kGet          slot.
//   kMutate       slot; 1 byte field (% kFieldSelectorCount, see Field), then
//                 the field's value encoding (see below).
//   kCopyKey      destination slot; 1 byte source slot.
//   kRemove       slot: removeMatchingMarkdown(pool markdown).
//   kClear        clears if the argument is 0, otherwise acts as kGet.
//   kBulkSet      slot; 1 byte n. Sets n+1 keys derived from the slot's key
//                 by adding 0, 1, 2, ... to unsigned3, fewer when they would
//                 be charged over 64 MiB in all (at least one).
//   kBulkGet      slot; 1 byte n. Gets the same derived keys.
//   kStoredEntry  argument bits 0-1: 0 and 3 set, 1 get, 2 removeMatching-
//                 Markdown; bit 2: pass the cache's own stored key (or its
//                 markdown) by reference instead of a copy of it; bit 3:
//                 count the position from the back (least recently used).
//                 Then 1 byte position (% entryCount) of the stored entry
//                 used, and for a set 1 byte height code. On an empty cache
//                 it reads only the position byte and calls nothing.
//   kGetOrMeasure slot; 1 byte height code. getOrMeasure() whose measurement
//                 gives what kSet would store.
//   kSetLimits    argument: kEntryLimits[argument]; 1 byte b:
//                 kByteBudgets[b % 16]. Unusable limits must be refused and
//                 change nothing.
//
// Value encodings:
//   string  1 byte m, mode m >> 6:
//             0: (m & 63) copies of 1 fill byte;
//             1: (m & 63) raw bytes taken from the input;
//             2: kBigLengths[m & 15] + (int8 delta) copies of 1 fill byte;
//             3: as 2, then 1 byte that replaces the last character.
//           Byte order: [delta] [fill] [last].
//   double  1 byte code % 16, see DoubleCode; kRaw reads 8 bytes (little
//           endian bit pattern), kSmallInteger/kNegativeSmallInteger 1 byte.
//   bool    1 byte, bit 0.
//   uint64  1 byte code % 4: 0 next byte; 1 eight raw bytes (little endian);
//           2 UINT64_MAX - next byte; 3 1 << (next byte % 64).
//   int32   1 byte code % 4: 0 next byte; 1 four raw bytes (little endian);
//           2 INT32_MIN + next byte; 3 -(next byte).
//   flavor  1 raw byte (any value, out-of-enum ones included).
//   height  1 byte h: h % 8 == 0 NaN, 1 -0.0, 2 +0.0, otherwise h.
namespace morvane::vesk::fuzz {

inline constexpr std::size_t kPoolSize = 8;

enum class Operation : std::uint8_t {
  kSet = 0,
  kGet = 1,
  kMutate = 2,
  kCopyKey = 3,
  kRemove = 4,
  kClear = 5,
  kBulkSet = 6,
  kBulkGet = 7,
  kStoredEntry = 8,
  kGetOrMeasure = 9,
  kSetLimits = 10,
};

// Low nibbles 11..15 repeat the common operations, weighting the mix towards
// set, get and mutate.
inline constexpr std::array<Operation, 16> kOperationOfNibble = {
    Operation::kSet,          Operation::kGet,       Operation::kMutate,
    Operation::kCopyKey,      Operation::kRemove,    Operation::kClear,
    Operation::kBulkSet,      Operation::kBulkGet,   Operation::kStoredEntry,
    Operation::kGetOrMeasure, Operation::kSetLimits, Operation::kSet,
    Operation::kGet,          Operation::kMutate,    Operation::kMutate,
    Operation::kStoredEntry};

// The limits kSetLimits chooses from: around the default and the smallest
// usable ones, a few unusable ones, and an entry limit only the budget bounds.
inline constexpr std::array<std::size_t, 16> kEntryLimits = {
    1,
    2,
    3,
    4,
    7,
    8,
    64,
    256,
    511,
    512,
    512,
    513,
    1024,
    4096,
    0,  // unusable
    static_cast<std::size_t>(-1)};
inline constexpr std::uint64_t kMiBytes = std::uint64_t{1} << 20;
inline constexpr std::array<std::uint64_t, 16> kByteBudgets = {0,
                                                               559,  // unusable
                                                               560,
                                                               561,
                                                               16384,
                                                               32768,
                                                               kMiBytes,
                                                               3 * kMiBytes,
                                                               4 * kMiBytes,
                                                               8 * kMiBytes - 1,
                                                               8 * kMiBytes,
                                                               8 * kMiBytes,
                                                               8 * kMiBytes + 1,
                                                               16 * kMiBytes,
                                                               32 * kMiBytes,
                                                               64 * kMiBytes};

constexpr std::uint8_t operationByte(Operation operation,
                                     std::uint8_t argument) {
  return static_cast<std::uint8_t>(static_cast<std::uint8_t>(operation) |
                                   (argument << 4));
}

// Fields in declaration order; selectors 24..31 pick the markdown again, the
// field that matters most.
enum class Field : std::uint8_t {
  kMarkdown,
  kReal1,
  kFlag1,
  kFlag2,
  kReal2,
  kFlag3,
  kFlag4,
  kFlag5,
  kFlag6,
  kFlag7,
  kFlag8,
  kFlag9,
  kFlag10,
  kUnsigned1,
  kUnsigned2,
  kUnsigned3,
  kReal3,
  kFlavor,
  kString1,
  kString2,
  kInteger,
  kString3,
  kString4,
  kString5,
};
inline constexpr std::uint8_t kFieldCount = 24;
inline constexpr std::uint8_t kFieldSelectorCount = 32;

enum class StringMode : std::uint8_t {
  kFilled = 0,
  kRaw = 1,
  kBigFilled = 2,
  kBigWithLastByte = 3,
};

constexpr std::uint8_t stringByte(StringMode mode, std::uint8_t lengthOrIndex) {
  return static_cast<std::uint8_t>((static_cast<std::uint8_t>(mode) << 6) |
                                   (lengthOrIndex & 63));
}

// Lengths around which the limits bite. An entry is charged
// 2 * (lengths + 280) of a budget of 8388608 bytes.
inline constexpr std::array<std::size_t, 16> kBigLengths = {
    7912,     // charge 16384: exactly 512 such entries fill the budget
    16104,    // charge 32768: exactly 256 fit
    524008,   // charge 1 MiB: exactly 8 fit
    1048296,  // charge 2 MiB: exactly 4 fit
    1397821,  // the longest markdown of which 3 fit
    2096872,  // charge 4 MiB: exactly 2 fit
    4194024,  // charge 8 MiB: the longest key that is stored at all
    4194025,  // the shortest key that is refused
    // Round sizes, from small to refused:
    256, 4096, 65536, 1048576, 2097152, 3145728, 4194304, 6291456};

enum class DoubleCode : std::uint8_t {
  kPositiveZero,
  kNegativeZero,
  kQuietNaN,
  kSignalingNaN,
  kNegativeNaN,
  kDenormMin,
  kNegativeDenormMin,
  kLargestSubnormal,
  kSmallestNormal,
  kInfinity,
  kNegativeInfinity,
  kOne,
  kLargest,
  kRaw,
  kSmallInteger,
  kNegativeSmallInteger,
};

}  // namespace morvane::vesk::fuzz

#endif  // VESK_TESTS_FUZZ_FUZZ_INPUT_FORMAT_H_
