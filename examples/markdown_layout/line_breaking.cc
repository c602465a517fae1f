#include "examples/markdown_layout/line_breaking.h"

#include <algorithm>

namespace morvane::vesk::markdown_layout {

LineBreaker::LineBreaker(double maxWidth, double emptyLineHeight)
    : maxWidth_(maxWidth), emptyLineHeight_(emptyLineHeight) {}

void LineBreaker::take(std::span<const Cluster> clusters) {
  std::size_t i = 0;
  while (i < clusters.size()) {
    const Cluster& c = clusters[i];
    if (c.kind == ClusterKind::kSpace) {
      endWord();
      addSpace(c);
      ++i;
    } else if (c.kind == ClusterKind::kHardBreak) {
      endWord();
      hardBreak(c);
      ++i;
    } else {
      std::size_t end = i;
      while (end < clusters.size() &&
             clusters[end].kind == ClusterKind::kGlyphs) {
        ++end;
      }
      if (end < clusters.size() && word_.empty() && !breakingWord_) {
        addWord(clusters.subspan(i, end - i));  // begins and ends here
      } else {
        for (; i < end; ++i) addGlyphs(clusters[i]);
      }
      i = end;
    }
  }
}

LineBreaks LineBreaker::finish() {
  endWord();
  finishLine();
  return result_;
}

void LineBreaker::addSpace(const Cluster& space) {
  if (afterWrap_ && !hasGlyphs_) return;
  pendingSpace_ += space.advance;
  lineHeight_ = std::max(lineHeight_, space.lineHeight);
}

void LineBreaker::hardBreak(const Cluster& brk) {
  lineHeight_ = std::max(lineHeight_, brk.lineHeight);
  finishLine();
  afterWrap_ = false;
}

// The word goes to a fresh line when it does not fit on this one, and is
// broken between clusters when it does not fit on a fresh line either.
void LineBreaker::addWord(std::span<const Cluster> word) {
  double width = 0.0;
  double height = 0.0;
  for (const Cluster& c : word) {
    width += c.advance;
    height = std::max(height, c.lineHeight);
  }
  if (hasGlyphs_ && !fits(width)) wrap();
  if (fits(width)) {
    place(width, height);
    return;
  }
  for (const Cluster& c : word) placeBetweenClusters(c.advance, c.lineHeight);
}

// The same for a word that comes in batches, held back meanwhile. Its
// width only grows, so both are known as soon as its clusters so far are
// too wide, and the line does not change while the word is held back.
void LineBreaker::addGlyphs(const Cluster& glyphs) {
  if (breakingWord_) {
    placeBetweenClusters(glyphs.advance, glyphs.lineHeight);
    return;
  }
  if (!word_.empty() && word_.back().advance == glyphs.advance &&
      word_.back().lineHeight == glyphs.lineHeight) {
    ++word_.back().count;
  } else {
    word_.push_back(Held{glyphs.advance, glyphs.lineHeight, 1});
    largestHeld_ = std::max(largestHeld_, word_.size());
  }
  wordWidth_ += glyphs.advance;
  wordHeight_ = std::max(wordHeight_, glyphs.lineHeight);
  if (fits(wordWidth_)) return;
  if (hasGlyphs_) wrap();
  if (fits(wordWidth_)) return;
  // Wider than a whole line: break it between clusters.
  breakingWord_ = true;
  for (const Held& held : word_) {
    for (std::size_t i = 0; i < held.count; ++i) {
      placeBetweenClusters(held.advance, held.lineHeight);
    }
  }
  word_.clear();
}

void LineBreaker::endWord() {
  if (!breakingWord_ && !word_.empty()) place(wordWidth_, wordHeight_);
  breakingWord_ = false;
  word_.clear();
  wordWidth_ = 0.0;
  wordHeight_ = 0.0;
}

void LineBreaker::placeBetweenClusters(double advance, double lineHeight) {
  if (hasGlyphs_ && !fits(advance)) wrap();
  place(advance, lineHeight);
}

void LineBreaker::place(double width, double lineHeight) {
  lineWidth_ += pendingSpace_ + width;
  pendingSpace_ = 0.0;
  hasGlyphs_ = true;
  lineHeight_ = std::max(lineHeight_, lineHeight);
}

void LineBreaker::wrap() {
  finishLine();
  afterWrap_ = true;
}

void LineBreaker::finishLine() {
  result_.widestLine = std::max(result_.widestLine, lineWidth_);
  result_.height += lineHeight_ > 0.0 ? lineHeight_ : emptyLineHeight_;
  ++result_.lines;
  lineWidth_ = 0.0;
  pendingSpace_ = 0.0;
  lineHeight_ = 0.0;
  hasGlyphs_ = false;
}

LineBreaks breakLines(std::span<const Cluster> clusters, double maxWidth,
                      double emptyLineHeight) {
  LineBreaker breaker(maxWidth, emptyLineHeight);
  breaker.take(clusters);
  return breaker.finish();
}

}  // namespace morvane::vesk::markdown_layout
