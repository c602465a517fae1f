#include "examples/markdown_layout/document_loading.h"

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <linux/limits.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "examples/markdown_layout/markdown_parsing.h"
#include "tests/markdown_layout/temporary_directory.h"

namespace morvane::vesk::markdown_layout {
namespace {

namespace fs = std::filesystem;
using testing::gzipBytes;
using testing::TemporaryDirectory;

TEST(FindMarkdownFiles, ListsADirectoryInSortedPathOrderEveryTime) {
  const TemporaryDirectory dir;
  std::vector<std::string> names;
  names.reserve(40);
  for (int i = 0; i < 40; ++i) {
    names.push_back((i % 3 == 0 ? "sub/" : "") + std::to_string(i * 7919 % 97) +
                    (i % 2 == 0 ? ".md" : ".md.gz"));
  }
  std::shuffle(names.begin(), names.end(), std::mt19937(7));
  std::vector<std::string> expected;
  expected.reserve(names.size());
  for (const std::string& name : names) {
    expected.push_back(dir.write("docs/" + name, "# x\n"));
  }
  (void)dir.write("docs/notes.txt", "# not markdown\n");
  std::sort(expected.begin(), expected.end());
  const std::string named = dir.write("named.md", "# named\n");

  for (int attempt = 0; attempt < 2; ++attempt) {
    const MarkdownFiles found = findMarkdownFiles({named, dir.path("docs")});
    std::vector<std::string> wanted{named};
    wanted.insert(wanted.end(), expected.begin(), expected.end());
    EXPECT_EQ(found.files, wanted);
    EXPECT_TRUE(found.skipped.empty());
    EXPECT_TRUE(found.refused.empty());
  }
}

TEST(FindMarkdownFiles, NamesEverySkippedEntryWithItsReason) {
  const TemporaryDirectory dir;
  const std::string good = dir.write("docs/good.md", "# good\n");
  (void)dir.write("docs/sub/deeper.md", "# deeper\n");
  const auto link = [&](const std::string& target, const std::string& name) {
    fs::create_symlink(target, dir.path(name));
  };
  link("good.md", "docs/link.md");  // followed: a link to a file
  link("loop.md", "docs/loop.md");
  link("missing.md", "docs/dangling.md");
  link("missing", "docs/dangling-other");  // not markdown: no word
  link("sub", "docs/linked-dir");
  ASSERT_EQ(::mkfifo(dir.path("docs/pipe.md").c_str(), 0600), 0);
  const bool root = ::geteuid() == 0;
  if (!root) {
    (void)dir.write("docs/closed/hidden.md", "# hidden\n");
    fs::permissions(dir.path("docs/closed"), fs::perms::none);
  }

  const MarkdownFiles found = findMarkdownFiles({dir.path("docs")});
  EXPECT_EQ(found.files,
            (std::vector<std::string>{good, dir.path("docs/link.md"),
                                      dir.path("docs/sub/deeper.md")}));
  std::vector<std::string> skipped;
  for (const PathReason& entry : found.skipped) {
    skipped.push_back(entry.path + ": " + entry.reason);
  }
  std::vector<std::string> expected{
      dir.path("docs/dangling.md") + ": dangling symbolic link (to missing.md)",
      dir.path("docs/linked-dir") +
          ": symbolic link to a directory, not followed",
      dir.path("docs/loop.md") + ": symbolic link loop",
      dir.path("docs/pipe.md") + ": a FIFO",
  };
  if (!root) {
    expected.insert(expected.begin(),
                    dir.path("docs/closed") +
                        ": cannot list this directory: Permission denied");
  }
  EXPECT_EQ(skipped, expected);
  EXPECT_TRUE(found.refused.empty());
}

TEST(FindMarkdownFiles, RefusesNamedPathsItCannotUseAndGoesOn) {
  const TemporaryDirectory dir;
  (void)dir.write("empty/readme.txt", "");
  fs::create_symlink("nowhere", dir.path("dangling"));
  const std::string good = dir.write("good.md", "");
  const MarkdownFiles found = findMarkdownFiles(
      {dir.path("absent.md"), dir.path("empty"), dir.path("dangling"), good});
  EXPECT_EQ(found.files, std::vector<std::string>{good});
  std::vector<std::string> refused;
  for (const PathReason& entry : found.refused) {
    refused.push_back(entry.path + ": " + entry.reason);
  }
  EXPECT_EQ(
      refused,
      (std::vector<std::string>{
          dir.path("absent.md") + ": No such file or directory",
          dir.path("empty") + ": no *.md or *.md.gz files in this directory",
          dir.path("dangling") + ": dangling symbolic link (to nowhere)"}));
}

TEST(FindMarkdownFiles, RefusesAnEmptyPathAsSuch) {
  const MarkdownFiles found = findMarkdownFiles({""});
  EXPECT_TRUE(found.files.empty());
  ASSERT_EQ(found.refused.size(), 1U);
  EXPECT_EQ(found.refused[0].path, "");
  EXPECT_EQ(found.refused[0].reason, "an empty path names no file");
}

// Removes the directory `name` below the directory open as `parent` with
// everything in it, by descriptor, so that paths longer than PATH_MAX go too.
void removeTreeAt(int parent, const char* name) {
  const int fd = ::openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW);
  if (fd < 0) return;
  DIR* listing = ::fdopendir(fd);
  std::vector<std::string> entries;
  // One thread reads this stream, which is all readdir() needs.
  // NOLINTNEXTLINE(concurrency-mt-unsafe)
  while (const dirent* entry = ::readdir(listing)) {
    const std::string entryName = entry->d_name;
    if (entryName != "." && entryName != "..") entries.push_back(entryName);
  }
  for (const std::string& entry : entries) {
    if (::unlinkat(fd, entry.c_str(), 0) != 0) {
      removeTreeAt(fd, entry.c_str());
    }
  }
  ::closedir(listing);
  ::unlinkat(parent, name, AT_REMOVEDIR);
}

// A chain of directories whose paths pass PATH_MAX, each with a document:
// the walk takes the documents it can reach and names the first directory
// it cannot examine, so that no document is dropped without a word.
TEST(FindMarkdownFiles, NamesTheDirectoryWhosePathIsTooLong) {
  const TemporaryDirectory dir;
  const std::string level(250, 'd');
  constexpr int kLevels = 20;  // 5000 bytes of path and more
  ASSERT_GT(kLevels * (level.size() + 1), std::size_t{PATH_MAX});
  ASSERT_EQ(::mkdir(dir.path("deep").c_str(), 0755), 0);
  int fd = ::open(dir.path("deep").c_str(), O_RDONLY | O_DIRECTORY);
  ASSERT_GE(fd, 0);
  std::vector<std::string> documents;
  std::string path = dir.path("deep");
  for (int i = 0; i < kLevels; ++i) {
    ASSERT_EQ(::mkdirat(fd, level.c_str(), 0755), 0);
    const int next = ::openat(fd, level.c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(next, 0);
    ::close(fd);
    fd = next;
    path += "/" + level;
    const int file = ::openat(fd, "doc.md", O_WRONLY | O_CREAT, 0644);
    ASSERT_GE(file, 0);
    ASSERT_EQ(::write(file, "# x\n", 4), 4);
    ::close(file);
    documents.push_back(path + "/doc.md");
  }
  ::close(fd);

  const MarkdownFiles found = findMarkdownFiles({dir.path("deep")});
  EXPECT_TRUE(found.refused.empty());
  ASSERT_FALSE(found.skipped.empty());
  EXPECT_EQ(found.skipped.front().reason, "cannot examine: File name too long");
  EXPECT_GT(found.files.size(), 0U);
  // Every document is either taken or below a directory named as skipped.
  for (const std::string& document : documents) {
    const bool taken = std::find(found.files.begin(), found.files.end(),
                                 document) != found.files.end();
    const bool below = std::any_of(found.skipped.begin(), found.skipped.end(),
                                   [&](const PathReason& s) {
                                     return document.starts_with(s.path + "/");
                                   });
    EXPECT_TRUE(taken || below) << document.size() << " bytes";
  }

  const int top = ::open(dir.path().c_str(), O_RDONLY | O_DIRECTORY);
  removeTreeAt(top, "deep");
  ::close(top);
}

// What findMarkdownFiles() and loadDocuments() say about `root`, one line
// per file taken ("file P"), entry skipped ("skipped P: R") and document
// refused ("refused P: R"), as user and group 65534 (nobody) when this
// process runs as root, which reads and searches every directory. The
// walk runs in a child process, which drops its privileges for good.
std::vector<std::string> walkAsUnprivilegedUser(const std::string& root) {
  std::array<int, 2> ends{};
  if (::pipe(ends.data()) != 0) return {"pipe failed"};
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::close(ends[0]);
    const gid_t nobody = 65534;
    if (::geteuid() == 0 && (::setgroups(0, nullptr) != 0 ||
                             ::setgid(nobody) != 0 || ::setuid(nobody) != 0)) {
      ::_exit(2);
    }
    const MarkdownFiles found = findMarkdownFiles({root});
    const LoadedDocuments loaded = loadDocuments(found.files, {}, {});
    std::string report;
    for (const std::string& file : found.files) report += "file " + file + "\n";
    for (const PathReason& s : found.skipped) {
      report += "skipped " + s.path + ": " + s.reason + "\n";
    }
    for (const PathReason& r : found.refused) {
      report += "refused " + r.path + ": " + r.reason + "\n";
    }
    for (const PathReason& r : loaded.refused) {
      report += "refused " + r.path + ": " + r.reason + "\n";
    }
    const bool written = ::write(ends[1], report.data(), report.size()) ==
                         static_cast<ssize_t>(report.size());
    ::_exit(written ? 0 : 3);
  }
  ::close(ends[1]);
  std::string report;
  std::array<char, 4096> buffer{};
  for (ssize_t got;
       (got = ::read(ends[0], buffer.data(), buffer.size())) > 0;) {
    report.append(buffer.data(), static_cast<std::size_t>(got));
  }
  ::close(ends[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    return {"the walk's process failed with status " + std::to_string(status)};
  }
  std::vector<std::string> lines;
  std::istringstream in(report);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// A directory that can be listed but not searched: its entries' names are
// known, nothing else. Its documents are refused with the real reason, and
// what might be a directory is named as skipped; nothing is dropped as "not
// a regular file". Run as an unprivileged user (see above), so that the
// permission holds even when the tests run as root.
TEST(FindMarkdownFiles, NamesWhatADirectoryThatCannotBeSearchedHides) {
  const TemporaryDirectory dir;
  const std::string open = dir.write("docs/open.md", "# open\n");
  const std::string hidden = dir.write("docs/shut/hidden.md", "# hidden\n");
  (void)dir.write("docs/shut/sub/deeper.md", "# deeper\n");
  fs::permissions(dir.path(), fs::perms::owner_all | fs::perms::group_read |
                                  fs::perms::group_exec |
                                  fs::perms::others_read |
                                  fs::perms::others_exec);
  fs::permissions(dir.path("docs/shut"), fs::perms::owner_read |
                                             fs::perms::group_read |
                                             fs::perms::others_read);
  std::vector<std::string> report = walkAsUnprivilegedUser(dir.path("docs"));
  std::vector<std::string> expected{
      "file " + open,
      "file " + hidden,
      "refused " + hidden + ": Permission denied",
      "skipped " + dir.path("docs/shut/sub") +
          ": cannot examine: Permission denied",
  };
  std::sort(report.begin(), report.end());
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(report, expected);
}

struct LoadCase {
  const char* name;
  const char* file;  // the name it is written under
  std::string bytes;
  DocumentLimits limits;
  std::string text;   // the text loaded, when it loads
  std::string error;  // else a part of the reason
};

DocumentLimits limits(std::uint64_t file, std::uint64_t inflated,
                      std::size_t columns = 256) {
  return DocumentLimits{file, inflated, columns};
}

TEST(LoadMarkdownFile, LoadsWhatIsWithinItsLimitsAndRefusesTheRest) {
  const DocumentLimits standard;
  const std::string member1 = gzipBytes("# one\n");
  const std::string member2 = gzipBytes("two\n");
  const std::string kilobyte(1000, 'x');
  const std::vector<LoadCase> cases{
      {"plain", "a.md", "# a\n", standard, "# a\n", ""},
      {"UTF-8 mark dropped", "a.md", "\xEF\xBB\xBF# a\n", standard, "# a\n",
       ""},
      {"UTF-16LE", "a.md", std::string("\xFF\xFE#\0 \0a\0", 8), standard, "",
       "UTF-16LE text"},
      {"UTF-16BE", "a.md", std::string("\xFE\xFF\0#\0 \0a", 8), standard, "",
       "UTF-16BE text"},
      {"UTF-32LE", "a.md", std::string("\xFF\xFE\0\0#\0\0\0", 8), standard, "",
       "UTF-32LE text"},
      {"UTF-32BE", "a.md", std::string("\0\0\xFE\xFF\0\0\0#", 8), standard, "",
       "UTF-32BE text"},
      {"UTF-7", "a.md", "+/v8-# a\n", standard, "", "UTF-7 text"},
      {"looks like UTF-7, is not", "a.md", "+/vx\n", standard, "+/vx\n", ""},
      {"UTF-16 inside gzip", "a.md.gz",
       gzipBytes(std::string("\xFF\xFEx\0", 4)), standard, "", "UTF-16LE text"},
      {"gzip", "a.md.gz", member1, standard, "# one\n", ""},
      {"empty gzip file", "a.md.gz", "", standard, "", ""},
      {"two gzip members", "a.md.gz", member1 + member2, standard,
       "# one\ntwo\n", ""},
      {"trailing garbage", "a.md.gz", member1 + "junk", standard, "",
       "trailing data after the gzip stream (4 bytes at offset"},
      {"trailing zeros", "a.md.gz", member1 + std::string(8, '\0'), standard,
       "", "trailing data after the gzip stream"},
      {"truncated", "a.md.gz", member1.substr(0, member1.size() - 3), standard,
       "", "invalid gzip data: unexpected end of file"},
      {"not gzip", "a.md.gz", "# plain\n", standard, "", "not gzip data"},
      {"file at its limit", "a.md", kilobyte, limits(1000, 1), kilobyte, ""},
      {"file past its limit", "a.md", kilobyte + "y", limits(1000, 1), "",
       "1001 bytes, more than the limit of 1000 bytes (--max-file-size)"},
      {"compressed file past the file limit", "a.md.gz", member1,
       limits(member1.size() - 1, 100), "", "(--max-file-size)"},
      {"inflates to its limit", "a.md.gz", gzipBytes(kilobyte),
       limits(1000, 1000), kilobyte, ""},
      {"inflates past its limit", "a.md.gz", gzipBytes(kilobyte + "y"),
       limits(1000, 1000), "",
       "inflates to more than the limit of 1000 bytes (--max-inflated-size)"},
      {"inflates far past its limit", "a.md.gz",
       gzipBytes(std::string(std::size_t{8} << 20, '\0')),
       limits(1000000, 70000), "",
       "inflates to more than the limit of 70000 bytes"},
      {"second member past the limit", "a.md.gz",
       gzipBytes(kilobyte) + gzipBytes("y"), limits(1000000, 1000), "",
       "(--max-inflated-size)"},
  };
  for (const LoadCase& c : cases) {
    SCOPED_TRACE(c.name);
    const TemporaryDirectory dir;
    const std::string path = dir.write(c.file, c.bytes);
    try {
      const std::string text = loadMarkdownFile(path, c.limits);
      EXPECT_EQ(c.error, "") << "loaded";
      EXPECT_EQ(text, c.text);
    } catch (const InputError& error) {
      EXPECT_NE(c.error, "") << error.what();
      EXPECT_EQ(error.problem().path, path);
      EXPECT_NE(error.problem().reason.find(c.error), std::string::npos)
          << error.what();
    }
  }
}

// A file whose size the system gives as 0 (as for most of /proc) but that
// reads longer is held to the limit as it is read, not by its size.
TEST(LoadMarkdownFile, HoldsAFileThatReadsLongerThanItsSizeToTheLimit) {
  struct stat info {};
  ASSERT_EQ(::stat("/proc/self/status", &info), 0);
  ASSERT_EQ(info.st_size, 0);
  try {
    (void)loadMarkdownFile("/proc/self/status", limits(64, 64));
    ADD_FAILURE() << "loaded past the limit";
  } catch (const InputError& error) {
    EXPECT_EQ(error.problem().reason,
              "grew while read to more than the limit of 64 bytes "
              "(--max-file-size)");
  }
  EXPECT_NE(
      loadMarkdownFile("/proc/self/status", limits(1 << 20, 64)).find("Name:"),
      std::string::npos);
}

TEST(LoadDocuments, RefusesATableWiderThanTheLimitAndLoadsTheOthers) {
  const TemporaryDirectory dir;
  const std::string narrow =
      dir.write("narrow.md", "# t\n\n| a | b |\n|---|---|\n| 1 | 2 |\n");
  const std::string wide = dir.write(
      "wide.md", "text\n\n| a | b | c |\n|---|---|---|\n| 1 | 2 | 3 |\n");
  const std::string missing = dir.path("missing.md");
  DocumentLimits twoColumns;
  twoColumns.maxTableColumns = 2;
  std::vector<std::size_t> progress;
  const LoadedDocuments loaded =
      loadDocuments({narrow, wide, missing, narrow}, twoColumns,
                    [&](std::size_t done, std::size_t total) {
                      EXPECT_EQ(total, 4U);
                      progress.push_back(done);
                    });
  ASSERT_EQ(loaded.documents.size(), 2U);
  EXPECT_EQ(loaded.documents[0].path, narrow);
  EXPECT_EQ(loaded.documents[0].blocks.size(), 3U);
  EXPECT_EQ(progress, (std::vector<std::size_t>{1, 2, 3, 4}));
  ASSERT_EQ(loaded.refused.size(), 2U);
  EXPECT_EQ(loaded.refused[0].path, wide);
  EXPECT_EQ(loaded.refused[0].reason,
            "the table at line 3 has 3 columns, more than the limit of 2 "
            "(--max-table-columns)");
  EXPECT_EQ(loaded.refused[1].path, missing);

  twoColumns.maxTableColumns = 3;
  EXPECT_EQ(loadDocument(wide, twoColumns).blocks.size(), 3U);
}

// Markup is what may cost the parsers a node each: line ends (CR LF once)
// and twenty ASCII characters, nothing else.
TEST(Markup, CountsLineEndsAndTheCharactersThatOpenNodes) {
  EXPECT_EQ(markupCharacters("!\"&')*+-.:<>@[\\]_`|~"), 20U);
  EXPECT_EQ(markupCharacters("#$%(,/;=?^{}09aZ \t\x7f\xc3\xa9"), 0U);
  EXPECT_EQ(markupCharacters("a\r\nb\rc\nd\r"), 4U);
  // The parse of a document reads a probe "[label]" and a blank line
  // before it for each distinct text in brackets.
  EXPECT_EQ(extractionMarkup("[a] [a] [b]\n"), 7U + 2 * 4U);
  EXPECT_EQ(extractionMarkup("\xEF\xBB\xBFplain"), 0U);
}

// Past --max-markup a document is refused before it is parsed, and a block,
// which each thread lays out, past an eighth of it; each with the count.
TEST(LoadDocument, RefusesMarkupPastItsLimits) {
  struct Case {
    const char* name;
    std::string text;
    std::string error;  // the reason's start and end; empty: loads
  };
  const std::string block(20, '[');  // at the limit of one block
  std::string blocks;                // at the limit of a document
  for (int i = 0; i < 7; ++i) blocks += block + "\n\n";
  blocks += block.substr(16) + "\n\n";
  const std::string ofADocument = "more than the limit of 160 (--max-markup)";
  const std::string ofABlock =
      "more than the limit of 20 for one block (an eighth of --max-markup)";
  const std::vector<Case> cases{
      {"at both limits", blocks, ""},
      {"one more in the document", blocks + ".", "161 markup " + ofADocument},
      {"one more in a block", block + "[\n",
       "the block at line 1 holds 21 markup " + ofABlock},
      {"a code block, one node whatever it holds",
       "```\n" + block + block + "\n```\n", ""},
      // Laid out under a header and a delimiter row of its own: its 4
      // pipes, 3 for each of the 6 pipes those rows may have, 2 line ends.
      {"a table row", "a|b\n-|-\n|a|b|c|\n",
       "the block at line 3 holds 24 markup " + ofABlock},
  };
  const TemporaryDirectory dir;
  DocumentLimits limits;
  limits.maxMarkup = 160;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = dir.write("doc.md", c.text);
    try {
      EXPECT_FALSE(loadDocument(path, limits).blocks.empty());
      EXPECT_EQ(c.error, "") << "loaded";
    } catch (const InputError& error) {
      EXPECT_EQ(error.problem().path, path);
      const std::string& reason = error.problem().reason;
      const std::size_t count = c.error.find(" markup ");
      ASSERT_NE(count, std::string::npos) << reason;
      EXPECT_TRUE(reason.starts_with(c.error.substr(0, count + 8))) << reason;
      EXPECT_TRUE(reason.ends_with(c.error.substr(count + 8))) << reason;
    }
  }
}

}  // namespace
}  // namespace morvane::vesk::markdown_layout
