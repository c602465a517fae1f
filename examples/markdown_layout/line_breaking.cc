#include "examples/markdown_layout/line_breaking.h"

#include <algorithm>

namespace morvane::vesk::markdown_layout {
namespace {

class LineBuilder {
 public:
  LineBuilder(double maxWidth, double emptyLineHeight)
      : maxWidth_(maxWidth), emptyLineHeight_(emptyLineHeight) {}

  void addSpace(const Cluster& space) {
    if (afterWrap_ && !hasGlyphs_) return;
    pendingSpace_ += space.advance;
    lineHeight_ = std::max(lineHeight_, space.lineHeight);
  }

  void hardBreak(const Cluster& brk) {
    lineHeight_ = std::max(lineHeight_, brk.lineHeight);
    finishLine();
    afterWrap_ = false;
  }

  void addWord(std::span<const Cluster> word) {
    double wordWidth = 0.0;
    for (const Cluster& c : word) wordWidth += c.advance;
    if (hasGlyphs_ && !fits(wordWidth)) wrap();
    if (fits(wordWidth)) {
      place(word, wordWidth);
      return;
    }
    // Wider than a whole line: break it between clusters.
    for (const Cluster& c : word) {
      if (hasGlyphs_ && !fits(c.advance)) wrap();
      place(std::span<const Cluster>(&c, 1), c.advance);
    }
  }

  LineBreaks finish() {
    finishLine();
    return result_;
  }

 private:
  [[nodiscard]] bool fits(double width) const {
    return lineWidth_ + pendingSpace_ + width <= maxWidth_;
  }
  void place(std::span<const Cluster> clusters, double width) {
    lineWidth_ += pendingSpace_ + width;
    pendingSpace_ = 0.0;
    hasGlyphs_ = true;
    for (const Cluster& c : clusters) {
      lineHeight_ = std::max(lineHeight_, c.lineHeight);
    }
  }
  void wrap() {
    finishLine();
    afterWrap_ = true;
  }
  void finishLine() {
    result_.widestLine = std::max(result_.widestLine, lineWidth_);
    result_.height += lineHeight_ > 0.0 ? lineHeight_ : emptyLineHeight_;
    ++result_.lines;
    lineWidth_ = 0.0;
    pendingSpace_ = 0.0;
    lineHeight_ = 0.0;
    hasGlyphs_ = false;
  }

  double maxWidth_;
  double emptyLineHeight_;
  LineBreaks result_;
  double lineWidth_ = 0.0;     // through the last glyph on the line
  double pendingSpace_ = 0.0;  // spaces after it, counted once a word follows
  double lineHeight_ = 0.0;
  bool hasGlyphs_ = false;
  bool afterWrap_ = false;
};

}  // namespace

LineBreaks breakLines(std::span<const Cluster> clusters, double maxWidth,
                      double emptyLineHeight) {
  LineBuilder builder(maxWidth, emptyLineHeight);
  std::size_t i = 0;
  while (i < clusters.size()) {
    const Cluster& c = clusters[i];
    if (c.kind == ClusterKind::kSpace) {
      builder.addSpace(c);
      ++i;
    } else if (c.kind == ClusterKind::kHardBreak) {
      builder.hardBreak(c);
      ++i;
    } else {
      std::size_t end = i;
      while (end < clusters.size() &&
             clusters[end].kind == ClusterKind::kGlyphs) {
        ++end;
      }
      builder.addWord(clusters.subspan(i, end - i));
      i = end;
    }
  }
  return builder.finish();
}

}  // namespace morvane::vesk::markdown_layout
