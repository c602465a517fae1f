#include "examples/markdown_layout/text_shaper.h"

#include <ft2build.h>
#include FT_FREETYPE_H
#include <hb-ft.h>
#include <hb.h>

#include <cmath>
#include <stdexcept>

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

void TextShaper::shape(std::string_view text, const std::string& fontFile,
                       double pixelSize, double lineSpacing, bool kerning,
                       std::vector<Cluster>& out) {
  if (text.empty()) return;
  Face& f = face(fontFile, pixelSize);
  const double lineHeight = f.lineHeight * lineSpacing;
  hb_buffer_clear_contents(buffer_);
  hb_buffer_add_utf8(buffer_, text.data(), static_cast<int>(text.size()), 0,
                     static_cast<int>(text.size()));
  hb_buffer_set_language(buffer_, shapingLanguage());
  hb_buffer_guess_segment_properties(buffer_);
  const hb_feature_t kern{HB_TAG('k', 'e', 'r', 'n'), kerning ? 1U : 0U,
                          HB_FEATURE_GLOBAL_START, HB_FEATURE_GLOBAL_END};
  hb_shape(f.font, buffer_, &kern, 1);

  unsigned int count = 0;
  const hb_glyph_info_t* infos = hb_buffer_get_glyph_infos(buffer_, &count);
  const hb_glyph_position_t* positions =
      hb_buffer_get_glyph_positions(buffer_, nullptr);
  for (unsigned int i = 0; i < count;) {
    const unsigned int cluster = infos[i].cluster;
    hb_position_t advance = 0;
    for (; i < count && infos[i].cluster == cluster; ++i) {
      advance += positions[i].x_advance;
    }
    const bool space = cluster < text.size() && text[cluster] == ' ';
    out.push_back(Cluster{static_cast<double>(advance) / 64.0, lineHeight,
                          space ? ClusterKind::kSpace : ClusterKind::kGlyphs});
  }
}

}  // namespace morvane::vesk::markdown_layout
