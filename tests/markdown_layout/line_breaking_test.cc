#include "examples/markdown_layout/line_breaking.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <span>
#include <string>
#include <vector>

namespace morvane::vesk::markdown_layout {
namespace {

// Clusters from a pattern: a letter is a 10-px glyph, '.' a 5-px glyph,
// ' ' a 4-px space, '\n' a hard break; each 20 px tall.
std::vector<Cluster> clusters(const std::string& pattern) {
  std::vector<Cluster> out;
  for (char c : pattern) {
    switch (c) {
      case ' ':
        out.push_back(Cluster{4.0, 20.0, ClusterKind::kSpace});
        break;
      case '\n':
        out.push_back(Cluster{0.0, 20.0, ClusterKind::kHardBreak});
        break;
      case '.':
        out.push_back(Cluster{5.0, 20.0, ClusterKind::kGlyphs});
        break;
      default:
        out.push_back(Cluster{10.0, 20.0, ClusterKind::kGlyphs});
        break;
    }
  }
  return out;
}

struct BreakCase {
  const char* name;
  std::string pattern;
  double maxWidth;
  double widestLine;
  std::size_t lines;
};

void PrintTo(const BreakCase& c, std::ostream* out) { *out << c.name; }

class LineBreakingTest : public ::testing::TestWithParam<BreakCase> {};

TEST_P(LineBreakingTest, BreaksGreedily) {
  const BreakCase& c = GetParam();
  const LineBreaks result = breakLines(clusters(c.pattern), c.maxWidth, 7.0);
  EXPECT_DOUBLE_EQ(result.widestLine, c.widestLine);
  EXPECT_EQ(result.lines, c.lines);
  // Every line here holds clusters or a hard break, so 20 px each.
  EXPECT_DOUBLE_EQ(result.height, 20.0 * static_cast<double>(c.lines));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LineBreakingTest,
    ::testing::Values(
        BreakCase{"WordsThatFitShareALine", "ab cd", 100, 44, 1},
        BreakCase{"ExactFitStaysOnTheLine", "ab cd", 44, 44, 1},
        BreakCase{"NextWordThatDoesNotFitWraps", "ab cd", 43, 20, 2},
        BreakCase{"TrailingSpacesDoNotCount", "ab   ", 100, 20, 1},
        BreakCase{"SpacesAtAWrapAreDropped", "ab   cd", 30, 20, 2},
        BreakCase{"OverWideWordBreaksBetweenClusters", "abcde", 25, 20, 3},
        BreakCase{"OverWideWordStartsOnAFreshLine", "a bcdef", 35, 30, 3},
        BreakCase{"OverWideFirstWordStartsOnTheFirstLine", "abcde f", 25, 24,
                  3},
        BreakCase{"SpacesBetweenWordsAfterAWrapCount", "a bb cc dd", 54, 44,
                  2},
        BreakCase{"IndentationAfterAWrapAndAHardBreakCounts", "aa bb\n  cc",
                  30, 28, 3},
        BreakCase{"ClusterWiderThanTheLineStillProgresses", "abc", 5, 10, 3},
        BreakCase{"WordsSpanRuns", "ab..cd", 100, 50, 1},
        BreakCase{"HardBreakEndsALine", "ab\ncd", 100, 20, 2},
        BreakCase{"IndentationAfterAHardBreakCounts", "ab\n  cd", 100, 28, 2},
        BreakCase{"TwoHardBreaksMakeAnEmptyLine", "a\n\nb", 100, 10, 3}),
    [](const ::testing::TestParamInfo<BreakCase>& info) {
      return std::string(info.param.name);
    });

// The clusters come a piece at a time as they are shaped: where the pieces
// end changes nothing.
TEST_P(LineBreakingTest, PiecesBreakAsTheWholeDoes) {
  const BreakCase& c = GetParam();
  const std::vector<Cluster> all = clusters(c.pattern);
  for (std::size_t piece = 1; piece <= all.size(); ++piece) {
    SCOPED_TRACE("pieces of " + std::to_string(piece));
    LineBreaker breaker(c.maxWidth, 7.0);
    for (std::size_t start = 0; start < all.size(); start += piece) {
      breaker.take(std::span<const Cluster>(all).subspan(
          start, std::min(piece, all.size() - start)));
    }
    const LineBreaks result = breaker.finish();
    EXPECT_DOUBLE_EQ(result.widestLine, c.widestLine);
    EXPECT_EQ(result.lines, c.lines);
  }
}

// A word is held back only while it may still be placed whole, one entry
// per change of cluster: a long word of like clusters costs one entry, and
// a long word of unlike ones no more than fit on a line.
TEST(LineBreaking, HoldsBackNoMoreThanALineOfAWord) {
  struct Case {
    const char* name;
    std::string pattern;
    std::size_t held;
  };
  const std::vector<Case> cases{
      {"like clusters", std::string(10000, 'a'), 1},
      {"unlike clusters",
       [] {
         std::string text;
         for (int i = 0; i < 5000; ++i) text += "a.";
         return text;
       }(),
       100 / 15 * 2 + 2},
      {"many words",
       [] {
         std::string text;
         for (int i = 0; i < 5000; ++i) text += "a.a ";
         return text;
       }(),
       3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LineBreaker breaker(100.0, 7.0);
    breaker.take(clusters(c.pattern));
    const LineBreaks result = breaker.finish();
    EXPECT_GT(result.lines, 10U);
    EXPECT_LE(breaker.largestHeldWord(), c.held);
  }
}

TEST(LineBreaking, EmptyTextIsOneLineOfTheEmptyHeight) {
  const LineBreaks result = breakLines({}, 100.0, 7.0);
  EXPECT_EQ(result.lines, 1U);
  EXPECT_DOUBLE_EQ(result.height, 7.0);
  EXPECT_DOUBLE_EQ(result.widestLine, 0.0);
}

TEST(LineBreaking, LineIsAsTallAsItsTallestCluster) {
  std::vector<Cluster> text = clusters("ab cd");
  text[3].lineHeight = 35.0;  // 'c', on the second line once wrapped
  const LineBreaks wrapped = breakLines(text, 25.0, 7.0);
  EXPECT_EQ(wrapped.lines, 2U);
  EXPECT_DOUBLE_EQ(wrapped.height, 20.0 + 35.0);
}

// A tall cluster makes its own line tall, not the lines after it.
struct TallCase {
  const char* name;
  std::string pattern;
  std::size_t tall;  // index of the 35-px cluster
  double maxWidth;
  double height;
};

void PrintTo(const TallCase& c, std::ostream* out) { *out << c.name; }

class TallLineTest : public ::testing::TestWithParam<TallCase> {};

TEST_P(TallLineTest, OnlyItsLineIsTall) {
  const TallCase& c = GetParam();
  std::vector<Cluster> text = clusters(c.pattern);
  text[c.tall].lineHeight = 35.0;
  EXPECT_DOUBLE_EQ(breakLines(text, c.maxWidth, 7.0).height, c.height);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TallLineTest,
    ::testing::Values(
        TallCase{"BeforeAWrap", "ab cd", 0, 25, 35 + 20},
        TallCase{"BeforeAHardBreak", "ab\ncd", 1, 100, 35 + 20},
        TallCase{"HardBreakItself", "ab\ncd\nef", 2, 100, 35 + 20 + 20},
        TallCase{"BeforeAnEmptyLine", "a\n\nb", 0, 100, 35 + 20 + 20},
        TallCase{"InsideABrokenWord", "abcde", 1, 25, 35 + 20 + 20}),
    [](const ::testing::TestParamInfo<TallCase>& info) {
      return std::string(info.param.name);
    });

}  // namespace
}  // namespace morvane::vesk::markdown_layout
