#ifndef VESK_EXAMPLES_MARKDOWN_LAYOUT_LINE_BREAKING_H_
#define VESK_EXAMPLES_MARKDOWN_LAYOUT_LINE_BREAKING_H_

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace morvane::vesk::markdown_layout {

// What a shaped cluster is to the line breaker.
enum class ClusterKind : std::uint8_t {
  kGlyphs,     // part of a word: a line breaks inside a word only when the
               // word alone is wider than the line
  kSpace,      // a break opportunity; not counted at the end of a line
  kHardBreak,  // ends the line (zero advance)
};

// The smallest unit of shaped text: one HarfBuzz cluster, in pixels.
struct Cluster {
  double advance = 0.0;
  double lineHeight = 0.0;  // of the face it was shaped in, spacing applied
  ClusterKind kind = ClusterKind::kGlyphs;
};

// Takes shaped clusters in text order, a batch at a time.
class ClusterSink {
 public:
  virtual void take(std::span<const Cluster> clusters) = 0;

 protected:
  ClusterSink() = default;
  ClusterSink(const ClusterSink&) = default;
  ClusterSink& operator=(const ClusterSink&) = default;
  ~ClusterSink() = default;
};

struct LineBreaks {
  double widestLine = 0.0;  // widest line without its trailing spaces
  double height = 0.0;      // sum of the line heights
  std::size_t lines = 0;
};

// Greedy line breaking: words go on the current line while they fit in
// `maxWidth`; a word wider than `maxWidth` is broken between clusters. A
// line is as tall as its tallest cluster, or `emptyLineHeight` when it has
// none. Spaces that open a line count (code indentation) except those that
// follow an automatic wrap. There is always at least one line.
//
// Clusters are taken as they are shaped, so that a block's clusters are
// never all held at once: a word that does not end in the batch it begins
// in is held back only until it is placed whole, or until its clusters so far
// are wider than the line, from when on it is broken between clusters as they
// come. (With advances of zero or more, as shaping gives, that is the same as
// deciding on the whole word.) What is held is one entry per change of advance
// or line height, so a word of any number of like clusters costs one. Not
// thread-safe; pure.
class LineBreaker final : public ClusterSink {
 public:
  LineBreaker(double maxWidth, double emptyLineHeight);

  void take(std::span<const Cluster> clusters) override;
  // The lines of everything taken. Call once, last.
  LineBreaks finish();
  // The most entries the word held back has had at once.
  [[nodiscard]] std::size_t largestHeldWord() const { return largestHeld_; }

 private:
  struct Held {
    double advance;
    double lineHeight;
    std::size_t count;
  };

  [[nodiscard]] bool fits(double width) const {
    return lineWidth_ + pendingSpace_ + width <= maxWidth_;
  }
  void addSpace(const Cluster& space);
  void hardBreak(const Cluster& brk);
  void addWord(std::span<const Cluster> word);
  void addGlyphs(const Cluster& glyphs);
  void endWord();
  void placeBetweenClusters(double advance, double lineHeight);
  void place(double width, double lineHeight);
  void wrap();
  void finishLine();

  double maxWidth_;
  double emptyLineHeight_;
  LineBreaks result_;
  double lineWidth_ = 0.0;     // through the last glyph on the line
  double pendingSpace_ = 0.0;  // spaces after it, counted once a word follows
  double lineHeight_ = 0.0;
  bool hasGlyphs_ = false;
  bool afterWrap_ = false;
  // The word being taken: held back while it may still be placed whole.
  std::vector<Held> word_;
  double wordWidth_ = 0.0;
  double wordHeight_ = 0.0;
  bool breakingWord_ = false;  // wider than a line: placed as it comes
  std::size_t largestHeld_ = 0;
};

// LineBreaker over `clusters`. Pure.
LineBreaks breakLines(std::span<const Cluster> clusters, double maxWidth,
                      double emptyLineHeight);

}  // namespace morvane::vesk::markdown_layout

#endif  // VESK_EXAMPLES_MARKDOWN_LAYOUT_LINE_BREAKING_H_
