// Parsing on many threads at once: the markdown library keeps process-wide
// state, which parseMarkdown() must keep out of the results.

#include "examples/markdown_layout/markdown_parsing.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "examples/markdown_layout/block_extraction.h"
#include "examples/markdown_layout/block_measurement.h"
#include "examples/markdown_layout/layout_key.h"
#include "examples/markdown_layout/text_shaper.h"

namespace morvane::vesk::markdown_layout {
namespace {

// Every syntax of the three extensions, in paragraphs, lists, quotes and a
// table, between plain CommonMark.
const std::string kRichDocument =
    "# Strike ~~through~~ and www.example.com\n"
    "\n"
    "Text with ~~two tildes~~, ~one tilde~, a https://example.org/path link,\n"
    "mail@example.com, **strong ~~struck~~** and *emphasis ~~too~~*.\n"
    "\n"
    "| column ~~a~~ | www.b.example | `c\\|d` |\n"
    "|:---|:---:|---:|\n"
    "| ~~x~~ | https://y.example | z \\| w |\n"
    "| 1 | 2 |\n"
    "\n"
    "- item ~~one~~ www.item.example\n"
    "  - nested ~~two~~ | not a table\n"
    "> quoted ~~three~~ http://q.example\n"
    "\n"
    "[ref ~~four~~][r] and ~~[inline](x)~~\n"
    "\n"
    "[r]: https://r.example\n";

std::string render(std::string_view text) {
  const ParsedMarkdown root = parseMarkdown(text, /*github=*/true);
  const std::unique_ptr<char, decltype(&std::free)> xml(
      cmark_render_xml(root.get(), CMARK_OPT_SOURCEPOS), &std::free);
  return xml.get();
}

TEST(MarkdownParsing, ExtensionsWorkInTheRichDocument) {
  const std::string xml = render(kRichDocument);
  EXPECT_NE(xml.find("<strikethrough"), std::string::npos);
  EXPECT_NE(xml.find("<table"), std::string::npos);
  EXPECT_NE(xml.find("http://www.example.com"), std::string::npos);
  EXPECT_NE(xml.find("mailto:mail@example.com"), std::string::npos);
}

TEST(MarkdownParsing, ParsesOnManyThreadsAsOnOne) {
  const std::string expected = render(kRichDocument);
  constexpr int kThreads = 4;
  constexpr int kParses = 300;
  std::vector<int> differing(kThreads, 0);
  std::vector<std::thread> threads;
  threads.reserve(kThreads);
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kParses; ++i) {
        if (render(kRichDocument) != expected) ++differing[t];
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (int t = 0; t < kThreads; ++t) {
    EXPECT_EQ(differing[t], 0) << "thread " << t << " of " << kParses;
  }
}

TEST(MarkdownParsing, BlocksMeasureTheSameOnManyThreadsAsOnOne) {
  const std::vector<Block> blocks = extractBlocks(kRichDocument);
  ASSERT_GE(blocks.size(), 8U);
  std::vector<CachedSize> expected;
  {
    TextShaper shaper(kFontDirectory);
    for (const Block& block : blocks) {
      expected.push_back(measureBlock(layoutKey(block, {}), shaper));
    }
  }
  constexpr int kThreads = 4;
  constexpr int kRounds = 40;
  std::vector<int> differing(kThreads, 0);
  std::vector<std::thread> threads;
  threads.reserve(kThreads);
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      TextShaper shaper(kFontDirectory);
      for (int round = 0; round < kRounds; ++round) {
        const std::vector<Block> again = extractBlocks(kRichDocument);
        if (again.size() != blocks.size()) {
          ++differing[t];
          continue;
        }
        for (std::size_t i = 0; i < again.size(); ++i) {
          const CachedSize size = measureBlock(layoutKey(again[i], {}), shaper);
          if (again[i].source != blocks[i].source ||
              size.width != expected[i].width ||
              size.height != expected[i].height) {
            ++differing[t];
          }
        }
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(differing[t], 0) << t;
}

}  // namespace
}  // namespace morvane::vesk::markdown_layout
