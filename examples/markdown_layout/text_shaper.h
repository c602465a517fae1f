#ifndef VESK_EXAMPLES_MARKDOWN_LAYOUT_TEXT_SHAPER_H_
#define VESK_EXAMPLES_MARKDOWN_LAYOUT_TEXT_SHAPER_H_

#include <cstddef>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "examples/markdown_layout/line_breaking.h"

// Opaque library types, so that users of the shaper need no library headers.
struct FT_LibraryRec_;
struct hb_buffer_t;

namespace morvane::vesk::markdown_layout {

// What a shaper has done since it was made, for tests that check its cost
// without a clock.
struct ShapingWork {
  std::size_t characters = 0;    // code points handed to HarfBuzz
  std::size_t dropped = 0;       // code points of over-long stacks left out
  std::size_t pieces = 0;        // calls of hb_shape
  std::size_t largestPiece = 0;  // bytes of the largest piece
};

// Shapes text with HarfBuzz over FreeType faces, unhinted, so that advances
// scale linearly with the size. Owns one FreeType library, one face per
// (font file, size) it has been asked for, opened on first use and kept, and
// one HarfBuzz buffer.
//
// Cost: time and memory grow linearly with the text, whatever it holds.
// - A character is shaped with at most kMaxAttachedCharacters characters
//   after it that attach to it (combining marks, and format and other
//   default-ignorable characters, which HarfBuzz looks past when it places
//   a mark): the rest of a longer stack is dropped, neither shaped nor
//   measured. HarfBuzz places each mark by searching back past the marks
//   before it, so a stack of n marks would cost n squared.
// - Text longer than kMaxPieceBytes is shaped in pieces of at most that many
//   bytes, cut after a space where the piece has one, else before a
//   character that attaches to none; each piece is shaped with the script
//   and direction of the whole text and sees its neighbours as context, but
//   glyphs on either side of a cut are not kerned or joined together. The
//   buffer therefore never holds more than one piece.
// What is dropped and where text is cut depend on the text alone, so equal
// inputs still shape to equal clusters.
//
// Thread safety: none. FreeType libraries and faces and HarfBuzz buffers must
// not be shared between threads: give each thread a TextShaper of its own.
// Shapers on different threads need no synchronisation between them: the
// one piece of process-wide state they use, the shaping language, is made
// once by the first constructor (text is shaped in no particular language,
// so sizes do not depend on the locale).
class TextShaper {
 public:
  static constexpr std::size_t kMaxAttachedCharacters = 32;
  static constexpr std::size_t kMaxPieceBytes = std::size_t{16} << 10;

  // `fontDirectory` is where font file names are opened.
  explicit TextShaper(std::string fontDirectory);
  TextShaper(const TextShaper&) = delete;
  TextShaper& operator=(const TextShaper&) = delete;
  ~TextShaper();

  // Shapes `text` (UTF-8; invalid bytes shape as U+FFFD) in `fontFile` at
  // `pixelSize` and gives `sink` one Cluster per HarfBuzz cluster, a piece
  // at a time, each with the face's line height times `lineSpacing`. A
  // space character is a kSpace cluster. Throws std::runtime_error if the
  // font cannot be opened.
  void shape(std::string_view text, const std::string& fontFile,
             double pixelSize, double lineSpacing, bool kerning,
             ClusterSink& sink);
  // The same, appending the clusters to `out`.
  void shape(std::string_view text, const std::string& fontFile,
             double pixelSize, double lineSpacing, bool kerning,
             std::vector<Cluster>& out);

  // The face's line height (ascender - descender + line gap, from its
  // metrics) at `pixelSize`.
  double lineHeight(const std::string& fontFile, double pixelSize);

  [[nodiscard]] const ShapingWork& work() const { return work_; }

 private:
  struct Face;
  Face& face(const std::string& fontFile, double pixelSize);
  std::string_view withoutOverlongStacks(std::string_view text);

  std::string fontDirectory_;
  FT_LibraryRec_* library_ = nullptr;
  hb_buffer_t* buffer_ = nullptr;
  std::map<std::pair<std::string, double>, std::unique_ptr<Face>> faces_;
  std::string kept_;               // text without its over-long stacks
  std::vector<Cluster> clusters_;  // of one piece
  ShapingWork work_;
};

// Where the piece of `text` that starts at `start` ends when the text is
// shaped in pieces of at most `maxBytes`: all of it when it fits; else
// after the piece's last space; else before its last character that
// attaches to none (never inside a UTF-8 sequence, nor between a character
// and what attaches to it). Always past `start` when text remains.
std::size_t shapingPieceEnd(std::string_view text, std::size_t start,
                            std::size_t maxBytes);

}  // namespace morvane::vesk::markdown_layout

#endif  // VESK_EXAMPLES_MARKDOWN_LAYOUT_TEXT_SHAPER_H_
