// Parsing for layout: GitHub's dialect as cmark-gfm's own extensions read
// it, and the same trees and sizes on many threads at once as on one, with
// no lock anywhere (the tsan preset runs this too).

#include "examples/markdown_layout/markdown_parsing.h"

#include <cmark-gfm-core-extensions.h>
#include <gtest/gtest.h>

#include <algorithm>
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

// What the layout reads of a tree: the blocks with their kinds, heading
// levels, table columns and header rows, and the inline text in runs of one
// style (bold, oblique, monospace), a soft break as a space and a hard one
// as "\n". Links, images and strikethrough add no style; raw HTML is text.
class LayoutDump {
 public:
  static std::string of(cmark_node* root) {
    LayoutDump dump;
    dump.walk(root, "");
    return dump.out_;
  }

 private:
  void walk(cmark_node* node, const std::string& style) {
    for (cmark_node* child = cmark_node_first_child(node); child != nullptr;
         child = cmark_node_next(child)) {
      const char* literal = cmark_node_get_literal(child);
      switch (cmark_node_get_type(child)) {
        case CMARK_NODE_TEXT:
        case CMARK_NODE_HTML_INLINE:
          text(style, literal);
          break;
        case CMARK_NODE_CODE:
          text(style + "m", literal);
          break;
        case CMARK_NODE_SOFTBREAK:
          text(style, " ");
          break;
        case CMARK_NODE_LINEBREAK:
          text(style, "\n");
          break;
        case CMARK_NODE_EMPH:
          walk(child, style + "o");
          break;
        case CMARK_NODE_STRONG:
          walk(child, style + "b");
          break;
        case CMARK_NODE_CODE_BLOCK:
        case CMARK_NODE_HTML_BLOCK:
          block(child);
          out_ += literal != nullptr ? literal : "";
          break;
        default: {
          const std::string_view type = nodeTypeName(child);
          if (type == "link" || type == "image" || type == "strikethrough") {
            walk(child, style);
          } else {
            block(child);
            walk(child, style);
          }
          break;
        }
      }
    }
  }

  void block(cmark_node* node) {
    runStyle_ = "-";
    out_ += "\n<";
    out_ += nodeTypeName(node);
    if (cmark_node_get_type(node) == CMARK_NODE_HEADING) {
      out_ += std::to_string(cmark_node_get_heading_level(node));
    }
    if (nodeTypeName(node) == "table") {
      out_ +=
          ' ' + std::to_string(cmark_gfm_extensions_get_table_columns(node));
    }
    out_ += "> ";
  }

  void text(const std::string& style, const char* literal) {
    std::string sorted = style;
    std::sort(sorted.begin(), sorted.end());
    sorted.erase(std::unique(sorted.begin(), sorted.end()), sorted.end());
    if (sorted != runStyle_) out_ += "[" + sorted + "]";
    runStyle_ = sorted;
    out_ += literal != nullptr ? literal : "";
  }

  std::string out_;
  std::string runStyle_ = "-";
};

// cmark-gfm with its own table, strikethrough and autolink extensions: what
// the layout read before it parsed on many threads. Its inline extensions
// change process-wide tables, so only this thread parses while it runs.
ParsedMarkdown parseWithCmarkExtensions(std::string_view text) {
  cmark_gfm_core_extensions_ensure_registered();
  cmark_parser* parser = cmark_parser_new(CMARK_OPT_VALIDATE_UTF8);
  for (const char* name : {"table", "strikethrough", "autolink"}) {
    cmark_parser_attach_syntax_extension(parser,
                                         cmark_find_syntax_extension(name));
  }
  cmark_parser_feed(parser, text.data(), text.size());
  ParsedMarkdown root(cmark_parser_finish(parser));
  cmark_parser_free(parser);
  return root;
}

struct DialectCase {
  const char* name;
  std::string markdown;
};

void PrintTo(const DialectCase& c, std::ostream* out) { *out << c.name; }

class GitHubDialectTest : public ::testing::TestWithParam<DialectCase> {};

TEST_P(GitHubDialectTest, LaysOutWhatCmarkGfmsOwnExtensionsRead) {
  const std::string& markdown = GetParam().markdown;
  const std::string expected =
      LayoutDump::of(parseWithCmarkExtensions(markdown).get());
  EXPECT_EQ(LayoutDump::of(parseMarkdown(markdown, /*github=*/true).get()),
            expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, GitHubDialectTest,
    ::testing::Values(
        DialectCase{"Strikethrough", "a ~~two~~ and ~one~ b\n"},
        DialectCase{"StrikethroughAcrossLines",
                    "a ~~two\nlines~~ c  \nhard ~~break~~\n"},
        DialectCase{"StrikethroughInsideEmphasis",
                    "**strong ~~struck~~** *em ~~too~~* ~~*in*~~\n"},
        DialectCase{"UnmatchedAndEscapedTildes",
                    "~~~ not a fence here ~~~ x ~~~y~~ \\~~z~~ ~~ a ~~\n"},
        DialectCase{"TildesInCodeStayThere", "`~~code~~` and ~~`c`~~\n"},
        DialectCase{"Autolinks",
                    "www.example.com, https://example.org/path and "
                    "mail@example.com.\n"},
        DialectCase{"AutolinksKeepTheirDelimiters",
                    "www.example.com/*not*emphasis and "
                    "https://x.example/~user/~file\n"},
        DialectCase{"ReferencesAndEntitiesNextToTheExtensions",
                    "[ref ~~x~~][r] &amp; &copy; &#35; &bogus; ~~[in](u)~~\n\n"
                    "[r]: https://r.example\n"},
        DialectCase{"ContinuationLinesThatLookLikeBlocks",
                    "a ~~b~~\n    - c\n    # d ~e~\n"},
        DialectCase{"CarriageReturnLineEnds",
                    "a ~~b~~\r    - c ~d~\r\r| x |\r|---|\r| ~~y~~ |\r"},
        DialectCase{"HeadingsAndQuotes",
                    "# ATX ~~h~~ #\n\nSetext ~~two~~\nlines\n===\n\n"
                    "> quoted ~~q~~\nlazy ~~l~~\n\n- item ~~i~~ www.i.example\n"
                    "  - nested ~~n~~\n"},
        DialectCase{"TableCells",
                    "| column ~~a~~ | www.b.example | `c\\|d` |\n"
                    "|:---|:---:|---:|\n"
                    "| ~~x~~ | https://y.example | z \\| w |\n"
                    "| - ~~list~~ | 1. ~~number~~ | # ~~hash~~ |\n"
                    "| 2) ~~paren~~ | 3) ~x~ | 4)~~y~~ |\n"
                    "| 1 | 2 |\n"},
        DialectCase{"TableAfterAParagraphWithShortDelimiters",
                    "para ~~p~~\n| a ~~b~~ | c |\n|-|-|\n| d | ~~e~~ |\n"},
        DialectCase{"NoExtensionSyntax",
                    "Plain *text* with `code`\n\n"
                    "```\n~~fenced~~\n```\n"}),
    [](const ::testing::TestParamInfo<DialectCase>& info) {
      return std::string(info.param.name);
    });

// Each kind of autolink is a link, as the parser promises, though the
// layout draws links in the face around them.
TEST(MarkdownParsing, ReadsEveryKindOfAutolinkAsALink) {
  for (const std::string address :
       {"mail@example.com", "www.example.com", "https://example.org/a"}) {
    const ParsedMarkdown root =
        parseMarkdown("write to " + address + " now\n", /*github=*/true);
    cmark_node* paragraph = cmark_node_first_child(root.get());
    ASSERT_NE(paragraph, nullptr);
    std::string links;
    for (cmark_node* child = cmark_node_first_child(paragraph);
         child != nullptr; child = cmark_node_next(child)) {
      if (cmark_node_get_type(child) != CMARK_NODE_LINK) continue;
      for (cmark_node* text = cmark_node_first_child(child); text != nullptr;
           text = cmark_node_next(text)) {
        links += cmark_node_get_literal(text);
      }
    }
    EXPECT_EQ(links, address);
  }
}

TEST(MarkdownParsing, CommonMarkAloneReadsNoExtension) {
  const std::string dump = LayoutDump::of(
      parseMarkdown("~~a~~ www.b.example\n\n| c |\n|---|\n", false).get());
  EXPECT_NE(dump.find("~~a~~"), std::string::npos) << dump;
  EXPECT_EQ(dump.find("<table"), std::string::npos) << dump;
}

TEST(MarkdownParsing, BlockStructureKeepsTheLines) {
  const ParsedMarkdown root =
      parseBlockStructure("# h\n\n| a |\n|---|\n| ~~b~~ |\n");
  cmark_node* heading = cmark_node_first_child(root.get());
  ASSERT_NE(heading, nullptr);
  EXPECT_EQ(cmark_node_get_start_line(heading), 1);
  cmark_node* table = cmark_node_next(heading);
  ASSERT_NE(table, nullptr);
  EXPECT_EQ(nodeTypeName(table), "table");
  EXPECT_EQ(cmark_node_get_start_line(cmark_node_last_child(table)), 5);
}

// Table rows, strikethrough and autolinks in every kind of block: the
// parts of both parsers that could share state between threads.
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
    "| ~~long struck cell~~ | ~~b~~ | ~~c~~ www.c.example |\n"
    "\n"
    "- item ~~one~~ www.item.example\n"
    "  - nested ~~two~~ | not a table\n"
    "> quoted ~~three~~ http://q.example\n"
    "\n"
    "[ref ~~four~~][r] and ~~[inline](x)~~\n"
    "\n"
    "[r]: https://r.example\n";

TEST(MarkdownParsing, ParsesOnManyThreadsAsOnOne) {
  const std::string expected =
      LayoutDump::of(parseMarkdown(kRichDocument, true).get());
  const std::string expectedBlocks =
      LayoutDump::of(parseBlockStructure(kRichDocument).get());
  ASSERT_EQ(expected.find("~~"), std::string::npos) << expected;
  constexpr int kThreads = 4;
  constexpr int kParses = 200;
  std::vector<int> differing(kThreads, 0);
  std::vector<std::thread> threads;
  threads.reserve(kThreads);
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kParses; ++i) {
        const bool blocks = (i + t) % 2 == 0;
        const std::string got =
            blocks ? LayoutDump::of(parseBlockStructure(kRichDocument).get())
                   : LayoutDump::of(parseMarkdown(kRichDocument, true).get());
        if (got != (blocks ? expectedBlocks : expected)) ++differing[t];
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
  ASSERT_EQ(blocks.size(), 9U);  // four of them table rows
  std::vector<CachedSize> expected;
  {
    TextShaper shaper(kFontDirectory);
    for (const Block& block : blocks) {
      expected.push_back(measureBlock(layoutKey(block, {}), shaper));
    }
  }
  constexpr int kThreads = 4;
  constexpr int kRounds = 30;
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
