#include "examples/markdown_layout/text_shaper.h"

#include <ft2build.h>
#include FT_FREETYPE_H
#include <hb-ft.h>
#include <hb.h>

#include <algorithm>
#include <cmath>
#include <span>
#include <stdexcept>
#include <string_view>

namespace morvane::vesk::markdown_layout {
namespace {

// The language every buffer is shaped in: BCP 47's "undetermined", since a
// block's language is not a layout input. Set explicitly, HarfBuzz never
// makes its default language, which it builds on the first shaping of the
// process from the locale (not thread-safe, its documentation says, unless
// made before threads shape) and which would make sizes depend on the
// locale. A local static: the first shaper's constructor makes it, and
// everything after that, on any thread, happens after it was made.
hb_language_t shapingLanguage() {
  static const hb_language_t language = hb_language_from_string("und", -1);
  return language;
}

// The code point at the start of `text` (not empty) and its length, decoded
// as HarfBuzz decodes UTF-8: a byte that does not start a well-formed
// sequence is one U+FFFD of one byte.
struct Decoded {
  char32_t codePoint;
  std::size_t length;
};

Decoded decodeUtf8(std::string_view text) {
  const auto byte = [&](std::size_t i) {
    return static_cast<unsigned char>(text[i]);
  };
  const auto continuation = [&](std::size_t i) {
    return i < text.size() && (byte(i) & 0xC0U) == 0x80U;
  };
  constexpr Decoded kInvalid{U'\uFFFD', 1};
  const unsigned char lead = byte(0);
  if (lead < 0x80U) return Decoded{lead, 1};
  if (lead >= 0xC2U && lead <= 0xDFU) {
    if (!continuation(1)) return kInvalid;
    return Decoded{((lead & 0x1FU) << 6U) | (byte(1) & 0x3FU), 2};
  }
  if (lead >= 0xE0U && lead <= 0xEFU) {
    if (!continuation(1) || !continuation(2)) return kInvalid;
    const char32_t c =
        ((lead & 0x0FU) << 12U) | ((byte(1) & 0x3FU) << 6U) | (byte(2) & 0x3FU);
    if (c < 0x800U || (c >= 0xD800U && c <= 0xDFFFU)) return kInvalid;
    return Decoded{c, 3};
  }
  if (lead >= 0xF0U && lead <= 0xF4U) {
    if (!continuation(1) || !continuation(2) || !continuation(3)) {
      return kInvalid;
    }
    const char32_t c = ((lead & 0x07U) << 18U) | ((byte(1) & 0x3FU) << 12U) |
                       ((byte(2) & 0x3FU) << 6U) | (byte(3) & 0x3FU);
    if (c < 0x10000U || c > 0x10FFFFU) return kInvalid;
    return Decoded{c, 4};
  }
  return kInvalid;
}

// Whether `c` attaches to the character before it for HarfBuzz: a combining
// mark, a format character (joiners, zero width space, bidirectional
// controls, tags...) or another default-ignorable code point. Everything
// else starts a stack.
bool attaches(char32_t c) {
  if (c < 0x300U) return c == 0xADU;  // soft hyphen, the only one below
  if (c == 0x2065U || (c >= 0xFFF0U && c <= 0xFFF8U) ||
      (c >= 0xE0000U && c <= 0xE0FFFU)) {
    return true;
  }
  switch (hb_unicode_general_category(hb_unicode_funcs_get_default(), c)) {
    case HB_UNICODE_GENERAL_CATEGORY_NON_SPACING_MARK:
    case HB_UNICODE_GENERAL_CATEGORY_SPACING_MARK:
    case HB_UNICODE_GENERAL_CATEGORY_ENCLOSING_MARK:
    case HB_UNICODE_GENERAL_CATEGORY_FORMAT:
      return true;
    default:
      return false;
  }
}

// HarfBuzz's guess of a buffer's script and direction, over the whole text:
// the script of its first character of a script of its own.
hb_segment_properties_t segmentProperties(std::string_view text) {
  hb_segment_properties_t properties = HB_SEGMENT_PROPERTIES_DEFAULT;
  properties.script = HB_SCRIPT_INVALID;
  hb_unicode_funcs_t* unicode = hb_unicode_funcs_get_default();
  for (std::size_t i = 0; i < text.size();) {
    const Decoded d = decodeUtf8(text.substr(i));
    i += d.length;
    const hb_script_t script = hb_unicode_script(unicode, d.codePoint);
    if (script != HB_SCRIPT_COMMON && script != HB_SCRIPT_INHERITED &&
        script != HB_SCRIPT_UNKNOWN) {
      properties.script = script;
      break;
    }
  }
  properties.direction = hb_script_get_horizontal_direction(properties.script);
  if (properties.direction == HB_DIRECTION_INVALID) {
    properties.direction = HB_DIRECTION_LTR;
  }
  properties.language = shapingLanguage();
  return properties;
}

// Collects clusters into a vector.
class AppendingSink final : public ClusterSink {
 public:
  explicit AppendingSink(std::vector<Cluster>& out) : out_(out) {}
  void take(std::span<const Cluster> clusters) override {
    out_.insert(out_.end(), clusters.begin(), clusters.end());
  }

 private:
  std::vector<Cluster>& out_;
};

}  // namespace

struct TextShaper::Face {
  FT_Face ftFace = nullptr;
  hb_font_t* font = nullptr;
  double lineHeight = 0.0;

  Face() = default;
  Face(const Face&) = delete;
  Face& operator=(const Face&) = delete;
  ~Face() {
    if (font != nullptr)
      hb_font_destroy(font);  // releases ftFace too
    else if (ftFace != nullptr)
      FT_Done_Face(ftFace);
  }
};

TextShaper::TextShaper(std::string fontDirectory)
    : fontDirectory_(std::move(fontDirectory)) {
  shapingLanguage();
  if (FT_Init_FreeType(&library_) != 0) {
    throw std::runtime_error("cannot initialise FreeType");
  }
  buffer_ = hb_buffer_create();
  if (hb_buffer_allocation_successful(buffer_) == 0) {
    FT_Done_FreeType(library_);
    throw std::runtime_error("cannot create a HarfBuzz buffer");
  }
}

TextShaper::~TextShaper() {
  faces_.clear();  // before the library that owns them
  hb_buffer_destroy(buffer_);
  FT_Done_FreeType(library_);
}

TextShaper::Face& TextShaper::face(const std::string& fontFile,
                                   double pixelSize) {
  auto [it, inserted] = faces_.try_emplace({fontFile, pixelSize});
  if (!inserted) return *it->second;
  auto made = std::make_unique<Face>();
  const std::string path = fontDirectory_ + "/" + fontFile;
  if (FT_New_Face(library_, path.c_str(), 0, &made->ftFace) != 0) {
    faces_.erase(it);
    throw std::runtime_error("cannot open font " + path);
  }
  const auto size26Dot6 = static_cast<FT_F26Dot6>(std::lround(pixelSize * 64));
  if (FT_Set_Char_Size(made->ftFace, 0, size26Dot6, 72, 72) != 0) {
    faces_.erase(it);
    throw std::runtime_error("cannot size font " + path);
  }
  // hb_ft_font_create_referenced takes its own reference; drop ours.
  made->font = hb_ft_font_create_referenced(made->ftFace);
  FT_Done_Face(made->ftFace);
  hb_ft_font_set_load_flags(made->font, FT_LOAD_NO_HINTING);
  const FT_Face f = made->ftFace;
  made->lineHeight = static_cast<double>(f->height) * pixelSize /
                     static_cast<double>(f->units_per_EM);
  it->second = std::move(made);
  return *it->second;
}

double TextShaper::lineHeight(const std::string& fontFile, double pixelSize) {
  return face(fontFile, pixelSize).lineHeight;
}

std::string_view TextShaper::withoutOverlongStacks(std::string_view text) {
  // One pass: `attached` counts the characters since the last one that
  // starts a stack; bytes are copied to kept_ only from the first drop on.
  std::size_t attached = 0;
  bool dropping = false;
  std::size_t copiedUpTo = 0;
  for (std::size_t i = 0; i < text.size();) {
    if (static_cast<unsigned char>(text[i]) < 0x80U) {  // ASCII starts stacks
      attached = 0;
      ++work_.characters;
      dropping = false;
      ++i;
      continue;
    }
    const Decoded d = decodeUtf8(text.substr(i));
    attached = attaches(d.codePoint) ? attached + 1 : 0;
    if (attached > kMaxAttachedCharacters) {
      if (!dropping) {
        if (copiedUpTo == 0) kept_.clear();
        kept_.append(text.substr(copiedUpTo, i - copiedUpTo));
        dropping = true;
      }
      ++work_.dropped;
      copiedUpTo = i + d.length;
    } else {
      ++work_.characters;
      dropping = false;
    }
    i += d.length;
  }
  if (copiedUpTo == 0) return text;
  kept_.append(text.substr(copiedUpTo));
  return kept_;
}

void TextShaper::shape(std::string_view text, const std::string& fontFile,
                       double pixelSize, double lineSpacing, bool kerning,
                       ClusterSink& sink) {
  if (text.empty()) return;
  Face& f = face(fontFile, pixelSize);
  const double lineHeight = f.lineHeight * lineSpacing;
  text = withoutOverlongStacks(text);
  const bool inPieces = text.size() > kMaxPieceBytes;
  const hb_segment_properties_t properties =
      inPieces ? segmentProperties(text) : hb_segment_properties_t{};
  const hb_feature_t kern{HB_TAG('k', 'e', 'r', 'n'), kerning ? 1U : 0U,
                          HB_FEATURE_GLOBAL_START, HB_FEATURE_GLOBAL_END};
  for (std::size_t start = 0; start < text.size();) {
    const std::size_t end = shapingPieceEnd(text, start, kMaxPieceBytes);
    hb_buffer_clear_contents(buffer_);
    hb_buffer_add_utf8(buffer_, text.data(), static_cast<int>(text.size()),
                       static_cast<unsigned int>(start),
                       static_cast<int>(end - start));
    if (inPieces) {
      hb_buffer_set_segment_properties(buffer_, &properties);
    } else {
      hb_buffer_set_language(buffer_, shapingLanguage());
      hb_buffer_guess_segment_properties(buffer_);
    }
    hb_shape(f.font, buffer_, &kern, 1);
    ++work_.pieces;
    work_.largestPiece = std::max(work_.largestPiece, end - start);

    unsigned int count = 0;
    const hb_glyph_info_t* infos = hb_buffer_get_glyph_infos(buffer_, &count);
    const hb_glyph_position_t* positions =
        hb_buffer_get_glyph_positions(buffer_, nullptr);
    clusters_.clear();
    for (unsigned int i = 0; i < count;) {
      const unsigned int cluster = infos[i].cluster;
      hb_position_t advance = 0;
      for (; i < count && infos[i].cluster == cluster; ++i) {
        advance += positions[i].x_advance;
      }
      const bool space = cluster < text.size() && text[cluster] == ' ';
      clusters_.push_back(
          Cluster{static_cast<double>(advance) / 64.0, lineHeight,
                  space ? ClusterKind::kSpace : ClusterKind::kGlyphs});
    }
    sink.take(clusters_);
    start = end;
  }
}

void TextShaper::shape(std::string_view text, const std::string& fontFile,
                       double pixelSize, double lineSpacing, bool kerning,
                       std::vector<Cluster>& out) {
  AppendingSink sink(out);
  shape(text, fontFile, pixelSize, lineSpacing, kerning, sink);
}

std::size_t shapingPieceEnd(std::string_view text, std::size_t start,
                            std::size_t maxBytes) {
  if (text.size() - start <= maxBytes) return text.size();
  const std::size_t limit = start + maxBytes;
  // Searched within the piece only: text before it was searched already.
  const std::size_t space = text.substr(start, maxBytes).rfind(' ');
  if (space != std::string_view::npos) return start + space + 1;
  for (std::size_t cut = limit; cut > start + 1; --cut) {
    if ((static_cast<unsigned char>(text[cut]) & 0xC0U) != 0x80U &&
        !attaches(decodeUtf8(text.substr(cut)).codePoint)) {
      return cut;
    }
  }
  return limit;  // no character to cut before: cannot happen once stacks
                 // are capped, since a piece is longer than any stack
}

}  // namespace morvane::vesk::markdown_layout
