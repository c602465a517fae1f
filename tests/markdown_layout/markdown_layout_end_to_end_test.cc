// Runs the markdown_layout program over documents the test writes into a
// temporary directory, and over bad inputs.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <array>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/markdown_layout/temporary_directory.h"
#include "tools/program_run.h"

namespace morvane::vesk {
namespace {

namespace fs = std::filesystem;

using testing::TemporaryDirectory;

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

// The curve's line for the replay's own limits holds the hits of a replay
// at those limits, and --entries/--bytes reach the cache the replay uses.
TEST(MarkdownLayoutProgram, CapacityCurveAgreesWithAReplayAtItsLimits) {
  const TemporaryDirectory dir;
  (void)dir.write("guide.md", kDocument);
  (void)dir.write("again.md", kDocument + std::string("\nMore.\n"));

  const ProgramRun curve =
      layout({"--capacity-curve", "--tsv", "--entries", "3", "--bytes", "4K",
              "--capacity-curve-svg", dir.path("curve.svg"), dir.path()});
  ASSERT_EQ(curve.exitStatus, 0) << curve.standardError;
  std::istringstream lines(curve.standardOutput);
  std::string line;
  ASSERT_TRUE(std::getline(lines, line));
  EXPECT_EQ(line, "entries\tbytes\tlookups\thits");
  int rows = 0;
  std::string hitsAtThreeEntries;
  while (std::getline(lines, line)) {
    ++rows;
    if (line.rfind("3\t4096\t", 0) == 0) {
      hitsAtThreeEntries = line.substr(line.rfind('\t') + 1);
    }
  }
  // The grid of 10 entry limits by 9 budgets, with the replay's own limits
  // added as an 11th entry limit and a 10th budget.
  EXPECT_EQ(rows, 11 * 10);
  ASSERT_FALSE(hitsAtThreeEntries.empty()) << curve.standardOutput;

  const ProgramRun replay =
      layout({"--threads", "1", "--entries", "3", "--bytes", "4K", dir.path()});
  ASSERT_EQ(replay.exitStatus, 0) << replay.standardError;
  EXPECT_NE(replay.standardOutput.find("at most 3 entries, 4096 bytes"),
            std::string::npos)
      << replay.standardOutput;
  const std::vector<std::string> cached =
      sessionRow(replay.standardOutput, "cache", "1");
  ASSERT_GT(cached.size(), 6U) << replay.standardOutput;
  EXPECT_EQ(cached[4], hitsAtThreeEntries);
  EXPECT_NE(cached[6], "0");  // three entries cannot hold the session
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

TEST(MarkdownLayoutProgram, NamesEveryRefusedDocumentAndLaysOutNothing) {
  const TemporaryDirectory dir;
  (void)dir.write("docs/a-good.md", kDocument);
  const std::string wide =
      dir.write("docs/b-wide.md", "|a|b|c|\n|-|-|-|\n|1|2|3|\n");
  const std::string big = dir.write("docs/c-big.md", std::string(5000, 'x'));
  const std::string cut = dir.write("docs/d-cut.md.gz", "\x1f\x8b\x08");
  const ProgramRun run = layout({"--max-table-columns", "2", "--max-file-size",
                                 "4k", dir.path("docs"), dir.path("absent")});
  EXPECT_EQ(run.exitStatus, 1);
  EXPECT_EQ(run.standardOutput, "");
  for (const std::string& line :
       {dir.path("absent") + ": No such file or directory",
        wide + ": the table at line 1 has 3 columns",
        big + ": 5000 bytes, more than the limit of 4096 bytes",
        cut + ": invalid gzip data",
        std::string("nothing laid out: 4 of the named paths and documents "
                    "refused")}) {
    EXPECT_NE(run.standardError.find("markdown_layout: " + line),
              std::string::npos)
        << line << "\n"
        << run.standardError;
  }
}

TEST(MarkdownLayoutProgram, NamesTheEntriesADirectoryWalkSkips) {
  const TemporaryDirectory dir;
  (void)dir.write("docs/good.md", kDocument);
  fs::create_symlink("missing.md", dir.path("docs/dangling.md"));
  fs::create_symlink("loop.md", dir.path("docs/loop.md"));
  ASSERT_EQ(::mkfifo(dir.path("docs/pipe.md").c_str(), 0600), 0);
  const ProgramRun run = layout({dir.path("docs")});
  EXPECT_EQ(run.exitStatus, 0) << run.standardError;
  EXPECT_NE(run.standardOutput.find("1 documents"), std::string::npos);
  EXPECT_EQ(run.standardError, "markdown_layout: skipped " +
                                   dir.path("docs/dangling.md") +
                                   ": dangling symbolic link (to missing.md)\n"
                                   "markdown_layout: skipped " +
                                   dir.path("docs/loop.md") +
                                   ": symbolic link loop\n"
                                   "markdown_layout: skipped " +
                                   dir.path("docs/pipe.md") + ": a FIFO\n");
}

// 512 MiB of zeros in half a megabyte of gzip: refused at the default limit
// without inflating, or holding, much more than the limit.
TEST(MarkdownLayoutProgram, StopsInflatingAtTheLimit) {
  const TemporaryDirectory dir;
  const std::string bomb = dir.write("bomb.md.gz", "");
  gzFile gz = ::gzopen(bomb.c_str(), "wb1");
  ASSERT_NE(gz, nullptr);
  const std::string zeros(std::size_t{1} << 20, '\0');
  for (int i = 0; i < 512; ++i) {
    ASSERT_EQ(::gzwrite(gz, zeros.data(), static_cast<unsigned>(zeros.size())),
              static_cast<int>(zeros.size()));
  }
  ::gzclose(gz);
  const ProgramRun run = layout({bomb});
  EXPECT_EQ(run.exitStatus, 1);
  EXPECT_NE(run.standardError.find(
                bomb + ": inflates to more than the limit of 16777216 bytes "
                       "(--max-inflated-size)"),
            std::string::npos)
      << run.standardError;
  EXPECT_LT(run.peakResidentKiB, 160 * 1024);
}

// Where a run's standard output goes.
enum class LostOutput {
  kNone,        // /dev/null: nothing is lost
  kFullDevice,  // /dev/full: every write fails with ENOSPC
  kClosed,      // descriptor 1 closed: EBADF
  kNoReader,    // a pipe whose reader has gone: EPIPE (the program ignores
                // SIGPIPE; the test leaves it at its default)
};

struct ChildRun {
  int exitStatus = -1;  // -1 if a signal ended it
  int signal = 0;       // the signal that ended it, or 0
  std::string standardError;
};

// Runs the program with its standard output lost as `lost`, its standard
// error in a file of `dir` and at most `dataBytes` of data (RLIMIT_DATA:
// its heap and other private writable memory).
ChildRun layoutInChild(const TemporaryDirectory& dir, LostOutput lost,
                       const std::vector<std::string>& arguments,
                       rlim_t dataBytes = RLIM_INFINITY) {
  const std::string errorFile = dir.path("stderr.txt");
  std::vector<std::string> strings{VESK_MARKDOWN_LAYOUT_PATH};
  strings.insert(strings.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  argv.reserve(strings.size() + 1);
  for (std::string& string : strings) argv.push_back(string.data());
  argv.push_back(nullptr);
  std::array<int, 2> pipeEnds{-1, -1};
  if (lost == LostOutput::kNoReader) {
    EXPECT_EQ(::pipe(pipeEnds.data()), 0);
    ::close(pipeEnds[0]);  // the reader is gone before the first write
  }
  const pid_t pid = ::fork();
  if (pid == 0) {  // only async-signal-safe calls until exec
    const int error = ::open(errorFile.c_str(),
                             O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    ::dup2(error, STDERR_FILENO);
    const rlimit data{dataBytes, dataBytes};
    if (::setrlimit(RLIMIT_DATA, &data) != 0) ::_exit(126);
    switch (lost) {
      case LostOutput::kNone:
        ::dup2(::open("/dev/null", O_WRONLY | O_CLOEXEC), STDOUT_FILENO);
        break;
      case LostOutput::kFullDevice:
        ::dup2(::open("/dev/full", O_WRONLY | O_CLOEXEC), STDOUT_FILENO);
        break;
      case LostOutput::kClosed:
        ::close(STDOUT_FILENO);
        break;
      case LostOutput::kNoReader:
        ::dup2(pipeEnds[1], STDOUT_FILENO);
        ::signal(SIGPIPE, SIG_DFL);  // as a shell leaves it
        break;
    }
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  if (pipeEnds[1] >= 0) ::close(pipeEnds[1]);
  ChildRun run;
  int status = 0;
  EXPECT_EQ(::waitpid(pid, &status, 0), pid);
  if (WIFEXITED(status)) run.exitStatus = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) run.signal = WTERMSIG(status);
  std::ifstream file(errorFile);
  std::stringstream text;
  text << file.rdbuf();
  run.standardError = text.str();
  return run;
}

// Whatever the program was asked to write, a standard output that cannot
// take it ends the run with status 1 and the reason, never in success.
TEST(MarkdownLayoutProgram, ReportsEveryLostWriteToStandardOutput) {
  const TemporaryDirectory dir;
  const std::string document = dir.write("guide.md", kDocument);
  const std::vector<std::string> listing{"--blocks", VESK_GOLDEN_DIRECTORY};
  const std::vector<std::string> replay{document};
  const std::vector<std::string> help{"--help"};
  struct Case {
    LostOutput lost;
    const std::vector<std::string>* arguments;
    const char* reason;
  };
  for (const Case& c : {
           Case{LostOutput::kFullDevice, &listing, "No space left on device"},
           Case{LostOutput::kFullDevice, &replay, "No space left on device"},
           Case{LostOutput::kFullDevice, &help, "No space left on device"},
           Case{LostOutput::kClosed, &listing, "Bad file descriptor"},
           Case{LostOutput::kClosed, &replay, "Bad file descriptor"},
           Case{LostOutput::kClosed, &help, "Bad file descriptor"},
           Case{LostOutput::kNoReader, &listing, "Broken pipe"},
           Case{LostOutput::kNoReader, &replay, "Broken pipe"},
           Case{LostOutput::kNoReader, &help, "Broken pipe"},
       }) {
    SCOPED_TRACE(c.arguments->front() + " into output " +
                 std::to_string(static_cast<int>(c.lost)));
    const ChildRun run = layoutInChild(dir, c.lost, *c.arguments);
    EXPECT_EQ(run.exitStatus, 1);
    EXPECT_EQ(run.standardError,
              std::string("markdown_layout: write error: ") + c.reason + "\n");
  }
}

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kUnderASanitizer = true;
#elif defined(__has_feature)
constexpr bool kUnderASanitizer =
    __has_feature(address_sanitizer) || __has_feature(thread_sanitizer);
#else
constexpr bool kUnderASanitizer = false;
#endif

// What the program may hold at once (README, "Markdown layout example"),
// for --blocks (one thread) with the default --max-markup: about 10 MB +
// 2 x the documents + 2 x the largest + (4 + 5) x the largest block + 1 KiB
// for each markup character of the largest document and of the largest
// block, at most 65,536 and 8,192.
rlim_t memoryBound(std::size_t documentBytes) {
  constexpr rlim_t kMiB = rlim_t{1} << 20;
  return 10 * kMiB + (2 + 2 + 4 + 5) * rlim_t{documentBytes} +
         rlim_t{1024} * (65536 + 8192);
}

// The inputs that took hundreds of megabytes of the parsers (or made
// cmark-gfm abort when it ran out): refused before they are parsed, and
// inputs at the limits laid out, each within the memory bound (the child's
// data limit; not under a sanitizer, whose shadow memory it would count).
TEST(MarkdownLayoutProgram, StaysWithinItsMemoryBoundOrRefusesFirst) {
  const auto repeat = [](const std::string& text, std::size_t times) {
    std::string repeated;
    for (std::size_t i = 0; i < times; ++i) repeated += text;
    return repeated;
  };
  // 8 blocks, each under 8,192 markup characters, 65,536 in all.
  const auto blocks = [&](const std::string& block) {
    return repeat(block + "\n\n", 8);
  };
  const std::string row = "|" + repeat("a|", 200) + "\n";
  const std::string table = row + "|" + repeat("-|", 200) + "\n";
  struct Case {
    const char* name;
    std::string text;
    const char* refusal;  // null: laid out
  };
  const std::vector<Case> cases{
      {"brackets", std::string(1000000, '[') + "\n",
       "1000001 markup characters"},
      {"nested lists", repeat("- ", 500000) + "x\n",
       "500001 markup characters"},
      {"wide table", table + repeat(row, 2450), "495504 markup characters"},
      {"emphasis", repeat("*a_ ", 250000) + "\n", "500001 markup characters"},
      {"brackets at the limits", blocks(std::string(8100, '[')), nullptr},
      {"nested lists at the limits", blocks(repeat("- ", 8100) + "x"),
       nullptr},
      {"wide table at the limits", table + repeat(row, 320), nullptr},
      {"emphasis at the limits", blocks(repeat("*a_ ", 4050)), nullptr},
  };
  constexpr bool kLimited = !kUnderASanitizer;
  const TemporaryDirectory dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = dir.write("input.md", c.text);
    const ChildRun run =
        layoutInChild(dir, LostOutput::kNone, {"--blocks", path},
                      kLimited ? memoryBound(c.text.size()) : RLIM_INFINITY);
    EXPECT_EQ(run.signal, 0);
    if (c.refusal == nullptr) {
      EXPECT_EQ(run.exitStatus, 0) << run.standardError;
      continue;
    }
    EXPECT_EQ(run.exitStatus, 1);
    EXPECT_TRUE(run.standardError.starts_with("markdown_layout: " + path +
                                              ": " + c.refusal))
        << run.standardError;
    EXPECT_NE(run.standardError.find("more than the limit of 65536 "
                                     "(--max-markup)"),
              std::string::npos)
        << run.standardError;
  }
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
        BadInput{"EmptyPath",
                 [](const TemporaryDirectory&) {
                   return std::vector<std::string>{""};
                 },
                 1, "markdown_layout: '': an empty path names no file", false},
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
        BadInput{"FileLargerThanItsLimit",
                 [](const TemporaryDirectory& d) {
                   return std::vector<std::string>{
                       "--max-file-size", "100",
                       d.write("big.md", std::string(101, 'x'))};
                 },
                 1,
                 "101 bytes, more than the limit of 100 bytes "
                 "(--max-file-size)",
                 true},
        BadInput{"GzipInflatingPastItsLimit",
                 [](const TemporaryDirectory& d) {
                   return std::vector<std::string>{
                       "--max-inflated-size", "1k",
                       d.writeGzip("big.md.gz", std::string(1025, 'x'))};
                 },
                 1,
                 "inflates to more than the limit of 1024 bytes "
                 "(--max-inflated-size)",
                 true},
        BadInput{"TableWiderThanItsLimit",
                 [](const TemporaryDirectory& d) {
                   return std::vector<std::string>{
                       "--max-table-columns", "4",
                       d.write("wide.md", "# t\n\n|a|b|c|d|e|\n|-|-|-|-|-|\n")};
                 },
                 1,
                 "the table at line 3 has 5 columns, more than the limit of "
                 "4 (--max-table-columns)",
                 true},
        BadInput{"Utf16Text",
                 [](const TemporaryDirectory& d) {
                   return std::vector<std::string>{d.write(
                       "wide.md", std::string("\xFF\xFE#\0 \0x\0\n\0", 10))};
                 },
                 1, "UTF-16LE text", true},
        BadInput{"TrailingDataAfterGzip",
                 [](const TemporaryDirectory& d) {
                   return std::vector<std::string>{d.write(
                       "tail.md.gz", testing::gzipBytes("# a\n") + "tail")};
                 },
                 1, "trailing data after the gzip stream", true},
        BadInput{"UnreadableDirectoryNamed",
                 [](const TemporaryDirectory& d) {
                   // Root reads any directory: then the case is a
                   // directory without markdown, and says so.
                   (void)d.write("closed/readme.txt", "");
                   fs::permissions(d.path("closed"), fs::perms::none);
                   return std::vector<std::string>{d.path("closed")};
                 },
                 1,
                 ::geteuid() == 0 ? "no *.md or *.md.gz files"
                                  : "cannot list: Permission denied",
                 true},
        BadInput{"UnknownOption",
                 [](const TemporaryDirectory&) {
                   return std::vector<std::string>{"--fast"};
                 },
                 2, "unknown option '--fast'", false},
        BadInput{"TooManyThreads",
                 [](const TemporaryDirectory&) {
                   return std::vector<std::string>{"--threads", "1,257"};
                 },
                 2, "--threads wants a number from 1 to 256, not '257'", false},
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
