// Runs the markdown_layout program over documents the test writes into a
// temporary directory, and over bad inputs.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <zlib.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tools/program_run.h"

namespace morvane::vesk {
namespace {

namespace fs = std::filesystem;

// A fresh directory, removed with everything in it at the end of the test.
class TemporaryDirectory {
 public:
  TemporaryDirectory() {
    std::string pattern =
        (fs::temp_directory_path() / "markdown_layout_test.XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
      throw std::runtime_error("mkdtemp failed");
    }
    path_ = pattern;
  }
  TemporaryDirectory(const TemporaryDirectory&) = delete;
  TemporaryDirectory& operator=(const TemporaryDirectory&) = delete;
  ~TemporaryDirectory() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }

  // Writes `content` to `name` (subdirectories made as needed); returns the
  // file's path.
  [[nodiscard]] std::string write(const std::string& name,
                                  const std::string& content) const {
    const fs::path file = path_ / name;
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << content;
    return file.string();
  }

  [[nodiscard]] std::string writeGzip(const std::string& name,
                                      const std::string& content) const {
    std::string file = write(name, "");
    gzFile gz = ::gzopen(file.c_str(), "wb");
    ::gzwrite(gz, content.data(), static_cast<unsigned>(content.size()));
    ::gzclose(gz);
    return file;
  }

  [[nodiscard]] std::string path(const std::string& name = "") const {
    return (path_ / name).string();
  }

 private:
  fs::path path_;
};

ProgramRun layout(const std::vector<std::string>& arguments) {
  return runProgram(VESK_MARKDOWN_LAYOUT_PATH, arguments);
}

// The cells of the whole-session table's row for `mode` and `threads`.
std::vector<std::string> sessionRow(const std::string& output,
                                    const std::string& mode,
                                    const std::string& threads) {
  std::istringstream lines(output);
  std::string line;
  while (std::getline(lines, line)) {
    std::vector<std::string> cells;
    std::istringstream row(line);
    std::string cell;
    while (std::getline(row, cell, '|')) {
      const auto first = cell.find_first_not_of(' ');
      const auto last = cell.find_last_not_of(' ');
      cells.push_back(first == std::string::npos
                          ? ""
                          : cell.substr(first, last - first + 1));
    }
    // "| mode | threads | blocks | measured | hits | misses | ..."
    if (cells.size() > 6 && cells[1] == mode && cells[2] == threads) {
      return {cells.begin() + 1, cells.end()};
    }
  }
  return {};
}

const char* const kDocument =
    "# Guide\n\n"
    "A paragraph with *emphasis*, **strong** text and `code`, long enough "
    "to wrap at seven hundred and twenty pixels when it is laid out.\n\n"
    "- first item\n- second item\n\n"
    "> a quotation\n\n"
    "```\nls -l\n```\n\n"
    "| name | value |\n|---|---|\n| a | 1 |\n";

TEST(MarkdownLayoutProgram, VerifiesAndTheSecondPassOnlyHits) {
  const TemporaryDirectory dir;
  (void)dir.write("guide.md", kDocument);
  (void)dir.writeGzip("compressed/notes.md.gz",
                      kDocument + std::string("\nMore.\n"));
  (void)dir.write("ignored.txt", "# not markdown\n");

  const ProgramRun run =
      layout({"--verify", "--passes", "2", "--threads", "1,2", dir.path()});
  ASSERT_EQ(run.exitStatus, 0) << run.standardError;
  EXPECT_EQ(run.standardError, "");
  EXPECT_NE(run.standardOutput.find("2 documents"), std::string::npos)
      << run.standardOutput;
  EXPECT_NE(
      run.standardOutput.find("verify: every hit equals a fresh measurement"),
      std::string::npos);
  for (const std::string threads : {"1", "2"}) {
    SCOPED_TRACE(threads + " threads");
    // blocks, measured, hits, misses
    const std::vector<std::string> none =
        sessionRow(run.standardOutput, "no cache", threads);
    const std::vector<std::string> first =
        sessionRow(run.standardOutput, "cache", threads);
    const std::vector<std::string> second =
        sessionRow(run.standardOutput, "cache, pass 2", threads);
    ASSERT_GT(none.size(), 5U) << run.standardOutput;
    ASSERT_GT(first.size(), 5U);
    ASSERT_GT(second.size(), 5U);
    EXPECT_EQ(none[2], none[3]);   // every block measured
    EXPECT_EQ(first[2], none[2]);  // the same session
    EXPECT_NE(first[4], "0");      // first pass: the documents' blocks miss
    EXPECT_LT(std::stoi(first[3]), std::stoi(none[3]));
    EXPECT_EQ(second[2], none[2]);
    EXPECT_EQ(second[3], "0");        // second pass: nothing measured,
    EXPECT_EQ(second[4], second[2]);  // every block a hit
    EXPECT_EQ(second[5], "0");
  }
}

TEST(MarkdownLayoutProgram, LaysOutEmptyAndInvalidUtf8Documents) {
  const TemporaryDirectory dir;
  const std::string empty = dir.write("empty.md", "");
  const std::string invalid =
      dir.write("invalid.md", "# Bad \xff\xfe bytes\n\nText \xc3\x28 here.\n");
  const ProgramRun run = layout({"--verify", empty, invalid});
  EXPECT_EQ(run.exitStatus, 0) << run.standardError;
  EXPECT_EQ(run.signal, 0);
  EXPECT_NE(run.standardOutput.find("2 documents, 2 blocks"), std::string::npos)
      << run.standardOutput;
}

struct BadInput {
  const char* name;
  // Makes the input in `dir` and returns the program's arguments.
  std::vector<std::string> (*make)(const TemporaryDirectory& dir);
  int exitStatus;
  const char* message;  // a part of the message on standard error
  bool namesPath;       // the message names the input's path
};

void PrintTo(const BadInput& c, std::ostream* out) { *out << c.name; }

class BadInputTest : public ::testing::TestWithParam<BadInput> {};

TEST_P(BadInputTest, ExitsWithAClearMessage) {
  const BadInput& c = GetParam();
  const TemporaryDirectory dir;
  const std::vector<std::string> arguments = c.make(dir);
  const ProgramRun run = layout(arguments);
  EXPECT_EQ(run.exitStatus, c.exitStatus) << run.standardError;
  EXPECT_EQ(run.standardOutput, "");
  EXPECT_TRUE(run.standardError.starts_with("markdown_layout: "))
      << run.standardError;
  EXPECT_NE(run.standardError.find(c.message), std::string::npos)
      << run.standardError;
  if (c.namesPath) {
    EXPECT_NE(run.standardError.find(arguments.back() + ": "),
              std::string::npos)
        << run.standardError;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, BadInputTest,
    ::testing::Values(
        BadInput{"MissingPath",
                 [](const TemporaryDirectory& d) {
                   return std::vector<std::string>{d.path("absent.md")};
                 },
                 1, "No such file or directory", true},
        BadInput{"DirectoryWithoutMarkdown",
                 [](const TemporaryDirectory& d) {
                   (void)d.write("docs/readme.txt", "text");
                   (void)d.write("docs/deeper/x.markdown", "text");
                   return std::vector<std::string>{d.path("docs")};
                 },
                 1, "no *.md or *.md.gz files", true},
        BadInput{"FifoInsteadOfAFile",
                 [](const TemporaryDirectory& d) {
                   const std::string fifo = d.path("pipe.md");
                   ::mkfifo(fifo.c_str(), 0600);
                   return std::vector<std::string>{fifo};
                 },
                 1, "not a regular file", true},
        BadInput{"TruncatedGzip",
                 [](const TemporaryDirectory& d) {
                   const std::string file =
                       d.writeGzip("cut.md.gz", std::string(100000, 'x'));
                   fs::resize_file(file, 40);
                   return std::vector<std::string>{file};
                 },
                 1, "invalid gzip data", true},
        BadInput{"GzipNameWithoutGzipData",
                 [](const TemporaryDirectory& d) {
                   return std::vector<std::string>{
                       d.write("plain.md.gz", "# plain text\n")};
                 },
                 1, "not gzip data", true},
        BadInput{"FileWithABadFileInItsDirectory",
                 [](const TemporaryDirectory& d) {
                   (void)d.write("docs/good.md", "# fine\n");
                   (void)d.write("docs/bad.md.gz", "not gzip\n");
                   return std::vector<std::string>{d.path("docs")};
                 },
                 1, "bad.md.gz: not gzip data", false},
        BadInput{"UnknownOption",
                 [](const TemporaryDirectory&) {
                   return std::vector<std::string>{"--fast"};
                 },
                 2, "unknown option '--fast'", false},
        BadInput{"ZeroThreads",
                 [](const TemporaryDirectory&) {
                   return std::vector<std::string>{"--threads", "0"};
                 },
                 2, "--threads wants a number from 1 to 256, not '0'", false}),
    [](const ::testing::TestParamInfo<BadInput>& info) {
      return std::string(info.param.name);
    });

}  // namespace
}  // namespace morvane::vesk
