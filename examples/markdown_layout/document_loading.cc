#include "examples/markdown_layout/document_loading.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>

#include "examples/markdown_layout/markdown_parsing.h"

namespace morvane::vesk::markdown_layout {
namespace {

namespace fs = std::filesystem;

bool isMarkdownName(const std::string& name) {
  return name.ends_with(".md") || name.ends_with(".md.gz");
}

// The text of the current errno (std::strerror is not thread-safe).
std::string errnoText() {
  return std::error_code(errno, std::generic_category()).message();
}

[[noreturn]] void fail(const std::string& path, const std::string& reason) {
  throw InputError(path, reason);
}

// Closes a descriptor on every path out.
class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  [[nodiscard]] int get() const { return fd_; }

 private:
  int fd_;
};

std::string tooLarge(std::uint64_t limit, const char* option) {
  return "more than the limit of " + std::to_string(limit) + " bytes (" +
         option + ")";
}

// The bytes of the regular file at `path`, at most `maxBytes` of them. Opens
// without blocking on a FIFO or device, and checks the size before reading.
std::string readFile(const std::string& path, std::uint64_t maxBytes) {
  const Descriptor fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (fd.get() < 0) fail(path, errnoText());
  struct stat info {};
  if (::fstat(fd.get(), &info) != 0) fail(path, errnoText());
  if (S_ISDIR(info.st_mode)) fail(path, "is a directory, not a file");
  if (!S_ISREG(info.st_mode)) fail(path, "not a regular file");
  const auto size = static_cast<std::uint64_t>(info.st_size);
  if (size > maxBytes) {
    fail(path, std::to_string(size) + " bytes, " +
                   tooLarge(maxBytes, "--max-file-size"));
  }
  std::string text;
  text.reserve(static_cast<std::size_t>(size));
  std::array<char, 65536> buffer{};
  for (;;) {
    const ssize_t got = ::read(fd.get(), buffer.data(), buffer.size());
    if (got == 0) break;
    if (got < 0) {
      if (errno == EINTR) continue;
      fail(path, "cannot read: " + errnoText());
    }
    if (text.size() + static_cast<std::uint64_t>(got) > maxBytes) {
      fail(path, "grew while read to " + tooLarge(maxBytes, "--max-file-size"));
    }
    text.append(buffer.data(), static_cast<std::size_t>(got));
  }
  return text;
}

// Makes `text` `size` bytes long, in a buffer of exactly that capacity (a
// growing std::string may otherwise double its buffer past the limit).
void growExactly(std::string& text, std::size_t size) {
  std::string grown;
  grown.reserve(size);
  grown.append(text);
  grown.resize(size);
  text.swap(grown);
}

class Inflater {
 public:
  Inflater() {
    if (::inflateInit2(&stream_, 16 + MAX_WBITS) != Z_OK) {
      throw std::bad_alloc();
    }
  }
  Inflater(const Inflater&) = delete;
  Inflater& operator=(const Inflater&) = delete;
  ~Inflater() { ::inflateEnd(&stream_); }
  z_stream& stream() { return stream_; }

 private:
  z_stream stream_{};
};

bool startsGzipMember(const unsigned char* data, std::size_t size) {
  return size >= 2 && data[0] == 0x1f && data[1] == 0x8b;
}

// Inflates every gzip member of `compressed` and refuses anything after the
// last one: a member is followed by the end or by another member.
std::string inflateGzip(const std::string& path, const std::string& compressed,
                        std::uint64_t maxBytes) {
  const auto* data = reinterpret_cast<const unsigned char*>(compressed.data());
  if (compressed.empty()) return {};
  if (!startsGzipMember(data, compressed.size())) fail(path, "not gzip data");
  Inflater inflater;
  z_stream& z = inflater.stream();
  z.next_in = const_cast<unsigned char*>(data);  // zlib's API is not const
  z.avail_in = static_cast<uInt>(compressed.size());
  // One byte past the limit shows that the limit is passed.
  const std::uint64_t ceiling = maxBytes + 1;
  std::string text;
  std::size_t produced = 0;
  for (;;) {
    if (produced == text.size()) {
      if (text.size() >= ceiling) {
        fail(path, "inflates to " + tooLarge(maxBytes, "--max-inflated-size"));
      }
      growExactly(
          text,
          static_cast<std::size_t>(std::min<std::uint64_t>(
              ceiling, std::max<std::uint64_t>(std::uint64_t{2} * text.size(),
                                               std::uint64_t{65536}))));
    }
    z.next_out = reinterpret_cast<unsigned char*>(text.data() + produced);
    z.avail_out = static_cast<uInt>(text.size() - produced);
    const int code = ::inflate(&z, Z_NO_FLUSH);
    produced = text.size() - z.avail_out;
    if (code == Z_STREAM_END) {
      if (z.avail_in == 0) break;
      if (!startsGzipMember(z.next_in, z.avail_in)) {
        fail(path, "trailing data after the gzip stream (" +
                       std::to_string(z.avail_in) + " bytes at offset " +
                       std::to_string(compressed.size() - z.avail_in) + ")");
      }
      ::inflateReset(&z);
    } else if (code == Z_BUF_ERROR && z.avail_out > 0) {
      fail(path, "invalid gzip data: unexpected end of file");
    } else if (code != Z_OK && code != Z_BUF_ERROR) {
      fail(path, std::string("invalid gzip data: ") +
                     (z.msg != nullptr ? z.msg : "error"));
    }
  }
  if (produced > maxBytes) {  // the stream ended on the byte past the limit
    fail(path, "inflates to " + tooLarge(maxBytes, "--max-inflated-size"));
  }
  text.resize(produced);
  return text;
}

// Refuses text in an encoding other than UTF-8, as far as a byte order mark
// tells, and drops a UTF-8 byte order mark.
void checkEncoding(const std::string& path, std::string& text) {
  struct Mark {
    std::string_view bytes;
    const char* encoding;
  };
  // Longer marks first where one begins with another (UTF-32LE, UTF-16LE).
  static constexpr std::array<Mark, 11> kMarks{{
      {"\xEF\xBB\xBF", nullptr},
      {std::string_view("\xFF\xFE\x00\x00", 4), "UTF-32LE"},
      {std::string_view("\x00\x00\xFE\xFF", 4), "UTF-32BE"},
      {"\xFF\xFE", "UTF-16LE"},
      {"\xFE\xFF", "UTF-16BE"},
      {"+/v", "UTF-7"},
      {"\xF7\x64\x4C", "UTF-1"},
      {"\xDD\x73\x66\x73", "UTF-EBCDIC"},
      {"\x0E\xFE\xFF", "SCSU"},
      {"\xFB\xEE\x28", "BOCU-1"},
      {"\x84\x31\x95\x33", "GB18030"},
  }};
  for (const Mark& mark : kMarks) {
    if (!std::string_view(text).starts_with(mark.bytes)) continue;
    if (mark.encoding == nullptr) {
      text.erase(0, mark.bytes.size());
      return;
    }
    // UTF-7's mark is "+/v" and one of 8, 9, + and /.
    if (std::string_view(mark.encoding) == "UTF-7" &&
        (text.size() < 4 ||
         std::string_view("89+/").find(text[3]) == std::string_view::npos)) {
      continue;
    }
    fail(path, std::string(mark.encoding) +
                   " text (by its byte order mark); only UTF-8 is laid out "
                   "(convert it, e.g. with iconv -t UTF-8)");
  }
}

const char* fileTypeName(fs::file_type type) {
  switch (type) {
    case fs::file_type::fifo:
      return "a FIFO";
    case fs::file_type::socket:
      return "a socket";
    case fs::file_type::block:
      return "a block device";
    case fs::file_type::character:
      return "a character device";
    default:
      return "not a regular file";
  }
}

// Why a symbolic link at `path` cannot be followed.
std::string brokenLinkReason(const fs::path& path,
                             const std::error_code& error) {
  if (error == std::errc::too_many_symbolic_link_levels) {
    return "symbolic link loop";
  }
  if (error == std::errc::no_such_file_or_directory) {
    std::error_code ignored;
    return "dangling symbolic link (to " +
           fs::read_symlink(path, ignored).string() + ")";
  }
  return "symbolic link that cannot be followed: " + error.message();
}

// Adds the markdown files below `root` to result.files in sorted order, the
// entries it passes over to result.skipped, and `root` to result.refused if
// it cannot be listed or holds no markdown.
void walkDirectory(const std::string& root, MarkdownFiles& result) {
  std::vector<std::string> found;
  std::vector<fs::path> pending{root};
  while (!pending.empty()) {
    const fs::path directory = std::move(pending.back());
    pending.pop_back();
    std::error_code error;
    fs::directory_iterator it(directory, error);
    if (error) {
      if (directory == root) {
        result.refused.push_back({root, "cannot list: " + error.message()});
        return;
      }
      result.skipped.push_back(
          {directory.string(),
           "cannot list this directory: " + error.message()});
      continue;
    }
    for (; it != fs::directory_iterator(); it.increment(error)) {
      const fs::path& path = it->path();
      const bool markdown = isMarkdownName(path.filename().string());
      std::error_code linkError;
      const fs::file_status own = fs::symlink_status(path, linkError);
      if (linkError) {
        // Listed but not examinable: the directory is not searchable, or
        // the path is longer than the system takes. A markdown name is
        // taken, so that loading refuses it with the reason; anything
        // else might be a directory of documents, and is named.
        if (markdown) {
          found.push_back(path.string());
        } else {
          result.skipped.push_back(
              {path.string(), "cannot examine: " + linkError.message()});
        }
        continue;
      }
      if (fs::is_directory(own)) {
        pending.push_back(path);
        continue;
      }
      if (!fs::is_symlink(own)) {
        if (!markdown) continue;
        if (fs::is_regular_file(own)) {
          found.push_back(path.string());
        } else {
          result.skipped.push_back({path.string(), fileTypeName(own.type())});
        }
        continue;
      }
      std::error_code targetError;
      const fs::file_status target = fs::status(path, targetError);
      if (targetError) {
        // A dangling link or a loop of another name cannot lead to
        // markdown; one that cannot be followed for another reason might.
        if (markdown ||
            (targetError != std::errc::no_such_file_or_directory &&
             targetError != std::errc::too_many_symbolic_link_levels)) {
          result.skipped.push_back(
              {path.string(), brokenLinkReason(path, targetError)});
        }
      } else if (fs::is_directory(target)) {
        result.skipped.push_back(
            {path.string(), "symbolic link to a directory, not followed"});
      } else if (markdown) {
        if (fs::is_regular_file(target)) {
          found.push_back(path.string());
        } else {
          result.skipped.push_back(
              {path.string(),
               std::string("symbolic link to ") + fileTypeName(target.type())});
        }
      }
    }
    if (error) {
      result.skipped.push_back(
          {directory.string(), "listing stopped: " + error.message()});
    }
  }
  if (found.empty()) {
    result.refused.push_back(
        {root, "no *.md or *.md.gz files in this directory"});
    return;
  }
  std::sort(found.begin(), found.end());
  result.files.insert(result.files.end(), found.begin(), found.end());
}

}  // namespace

InputError::InputError(std::string path, std::string reason)
    : std::runtime_error(path + ": " + reason),
      problem_{std::move(path), std::move(reason)} {}

MarkdownFiles findMarkdownFiles(const std::vector<std::string>& paths) {
  MarkdownFiles result;
  for (const std::string& path : paths) {
    if (path.empty()) {
      result.refused.push_back({path, "an empty path names no file"});
      continue;
    }
    std::error_code error;
    const fs::file_status status = fs::status(path, error);
    if (fs::is_directory(status)) {
      const std::size_t skippedBefore = result.skipped.size();
      walkDirectory(path, result);
      std::sort(
          result.skipped.begin() + static_cast<std::ptrdiff_t>(skippedBefore),
          result.skipped.end(), [](const PathReason& a, const PathReason& b) {
            return a.path < b.path;
          });
    } else if (error && error != std::errc::no_such_file_or_directory) {
      result.refused.push_back({path, error.message()});
    } else if (!fs::exists(status)) {
      std::error_code linkError;
      const bool link = fs::is_symlink(fs::symlink_status(path, linkError));
      result.refused.push_back(
          {path, link ? brokenLinkReason(path, error)
                      : std::string("No such file or directory")});
    } else {
      result.files.push_back(path);  // whatever it is, loading says
    }
  }
  return result;
}

std::string loadMarkdownFile(const std::string& path,
                             const DocumentLimits& limits) {
  std::string text = readFile(path, limits.maxFileBytes);
  if (path.ends_with(".gz")) {
    text = inflateGzip(path, text, limits.maxInflatedBytes);
  }
  checkEncoding(path, text);
  return text;
}

namespace {

// The markup characters the layout of `block` parses: its definitions and
// its source, and for a table row the header and delimiter row it is
// measured under (at most three for each of its cells, and their line ends).
// None for a code or HTML block, which parses to one node whatever it holds.
std::size_t layoutMarkup(const Block& block) {
  if (block.kind == BlockKind::kCode || block.kind == BlockKind::kHtml) {
    return 0;
  }
  std::size_t markup =
      markupCharacters(block.definitions) + markupCharacters(block.source);
  if (block.tableRow) {
    const auto pipes = static_cast<std::size_t>(
        std::count(block.source.begin(), block.source.end(), '|'));
    markup += 3 * (pipes + 2) + 2;
  }
  return markup;
}

std::string markupText(std::size_t markup) {
  return std::to_string(markup) +
         " markup characters (line ends and the ASCII punctuation that can "
         "open a node)";
}

}  // namespace

Document loadDocument(const std::string& path, const DocumentLimits& limits) {
  Document document{path, {}};
  {  // the text is dropped once its blocks hold their lines
    const std::string text = loadMarkdownFile(path, limits);
    const std::size_t markup = extractionMarkup(text);
    if (markup > limits.maxMarkup) {
      fail(path, markupText(markup) + ", more than the limit of " +
                     std::to_string(limits.maxMarkup) + " (--max-markup)");
    }
    document.blocks = extractBlocks(text);
  }
  for (const Block& block : document.blocks) {
    if (block.tableRow && block.tableColumns > limits.maxTableColumns) {
      fail(path, "the table at line " + std::to_string(block.firstLine) +
                     " has " + std::to_string(block.tableColumns) +
                     " columns, more than the limit of " +
                     std::to_string(limits.maxTableColumns) +
                     " (--max-table-columns)");
    }
    const std::size_t markup = layoutMarkup(block);
    if (markup > maxBlockMarkup(limits)) {
      fail(path, "the block at line " + std::to_string(block.firstLine) +
                     " holds " + markupText(markup) +
                     ", more than the limit of " +
                     std::to_string(maxBlockMarkup(limits)) +
                     " for one block (an eighth of --max-markup)");
    }
  }
  return document;
}

LoadedDocuments loadDocuments(
    const std::vector<std::string>& files, const DocumentLimits& limits,
    const std::function<void(std::size_t done, std::size_t total)>& progress) {
  LoadedDocuments loaded;
  for (std::size_t i = 0; i < files.size(); ++i) {
    try {
      loaded.documents.push_back(loadDocument(files[i], limits));
    } catch (const InputError& error) {
      loaded.refused.push_back(error.problem());
    }
    if (progress) progress(i + 1, files.size());
  }
  return loaded;
}

}  // namespace morvane::vesk::markdown_layout
