#ifndef VESK_EXAMPLES_MARKDOWN_LAYOUT_TEXT_SHAPER_H_
#define VESK_EXAMPLES_MARKDOWN_LAYOUT_TEXT_SHAPER_H_

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

// Shapes text with HarfBuzz over FreeType faces, unhinted, so that advances
// scale linearly with the size. Owns one FreeType library, one face per
// (font file, size) it has been asked for, opened on first use and kept, and
// one HarfBuzz buffer.
//
// Thread safety: none. FreeType libraries and faces and HarfBuzz buffers must
// not be shared between threads: give each thread a TextShaper of its own.
// Shapers on different threads need no synchronisation between them: the
// one piece of process-wide state they use, the shaping language, is made
// once by the first constructor (text is shaped in no particular language,
// so sizes do not depend on the locale).
class TextShaper {
 public:
  // `fontDirectory` is where font file names are opened.
  explicit TextShaper(std::string fontDirectory);
  TextShaper(const TextShaper&) = delete;
  TextShaper& operator=(const TextShaper&) = delete;
  ~TextShaper();

  // Shapes `text` (UTF-8; invalid bytes shape as U+FFFD) in `fontFile` at
  // `pixelSize` and appends one Cluster per HarfBuzz cluster to `out`, each
  // with the face's line height times `lineSpacing`. A space character is a
  // kSpace cluster. Throws std::runtime_error if the font cannot be opened.
  void shape(std::string_view text, const std::string& fontFile,
             double pixelSize, double lineSpacing, bool kerning,
             std::vector<Cluster>& out);

  // The face's line height (ascender - descender + line gap, from its
  // metrics) at `pixelSize`.
  double lineHeight(const std::string& fontFile, double pixelSize);

 private:
  struct Face;
  Face& face(const std::string& fontFile, double pixelSize);

  std::string fontDirectory_;
  FT_LibraryRec_* library_ = nullptr;
  hb_buffer_t* buffer_ = nullptr;
  std::map<std::pair<std::string, double>, std::unique_ptr<Face>> faces_;
};

}  // namespace morvane::vesk::markdown_layout

#endif  // VESK_EXAMPLES_MARKDOWN_LAYOUT_TEXT_SHAPER_H_
