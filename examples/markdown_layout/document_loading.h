#ifndef VESK_EXAMPLES_MARKDOWN_LAYOUT_DOCUMENT_LOADING_H_
#define VESK_EXAMPLES_MARKDOWN_LAYOUT_DOCUMENT_LOADING_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "examples/markdown_layout/block_extraction.h"

namespace morvane::vesk::markdown_layout {

// Where the default documents are: the markdown documentation of Debian's
// docker-doc package.
inline constexpr const char* kDefaultDocumentDirectory =
    "/usr/share/doc/docker-doc";

// A loaded document: its path and its blocks.
struct Document {
  std::string path;
  std::vector<Block> blocks;
};

// What one document may cost. A document past a limit is refused, with a
// reason that names the limit and the option that overrides it.
struct DocumentLimits {
  std::uint64_t maxFileBytes = std::uint64_t{16} << 20;  // --max-file-size
  // What a *.md.gz may inflate to; inflating stops there, so no more than
  // this (plus one byte, to see that it is passed) is ever held.
  std::uint64_t maxInflatedBytes = std::uint64_t{16} << 20;
  std::size_t maxTableColumns = 256;  // --max-table-columns
  // Markup characters (see markupCharacters()) the parsers may read for one
  // document, each of which may cost them up to kParserBytesPerMarkup
  // bytes (--max-markup); one block, laid out on each thread, may hold an
  // eighth of them (a code or HTML block, one node, any number). Counted
  // before the document, or the block, is parsed.
  std::size_t maxMarkup = 65536;
};

// The most markup characters one block may hold under `limits`.
inline std::size_t maxBlockMarkup(const DocumentLimits& limits) {
  return limits.maxMarkup / 8;
}

// A path and why it was skipped or refused; printed as "path: reason".
struct PathReason {
  std::string path;
  std::string reason;
};

// A path the program cannot use. what() is "path: reason".
class InputError : public std::runtime_error {
 public:
  InputError(std::string path, std::string reason);
  [[nodiscard]] const PathReason& problem() const { return problem_; }

 private:
  PathReason problem_;
};

struct MarkdownFiles {
  std::vector<std::string> files;
  // Entries of a directory walk that might have held markdown but were not
  // taken: symbolic link loops, dangling links, links to directories (not
  // followed), non-regular files with a markdown name, subdirectories that
  // cannot be listed, and entries of other names that cannot be examined
  // (in a directory that is not searchable, or whose path is longer than
  // the system takes), with the system's reason. Ordinary files with other
  // names are not listed.
  std::vector<PathReason> skipped;
  // Named paths that cannot be used: empty, missing, or a directory that
  // cannot be listed or holds no markdown.
  std::vector<PathReason> refused;
};

// The markdown files that `paths` designate, in the order given: a path that
// is not a directory as itself, whatever its name (loading says what is
// wrong with it); a directory as every `*.md` and `*.md.gz` regular file
// below it, following links to files but not to directories, in sorted path
// order; an entry with a markdown name that cannot be examined is taken too,
// so that loading refuses it with the reason. Deterministic for the same
// tree. Never throws for a bad path.
MarkdownFiles findMarkdownFiles(const std::vector<std::string>& paths);

// The text of the markdown file at `path`, inflated when the name ends in
// `.gz`, without a UTF-8 byte order mark. Throws InputError if the file
// cannot be opened or read, is not a regular file, is larger than
// limits.maxFileBytes, is not one or more complete gzip members with nothing
// after them when its name says gzip, inflates past limits.maxInflatedBytes,
// or starts with the byte order mark of an encoding other than UTF-8.
std::string loadMarkdownFile(const std::string& path,
                             const DocumentLimits& limits);

// loadMarkdownFile(), then the blocks; throws InputError also, before any
// parsing, for a document whose parse reads more than limits.maxMarkup
// markup characters, and, before any layout, for a block whose layout reads
// more than maxBlockMarkup(limits) or a table with more than
// limits.maxTableColumns columns. Thread-safe.
Document loadDocument(const std::string& path, const DocumentLimits& limits);

struct LoadedDocuments {
  std::vector<Document> documents;  // in the order of the files
  std::vector<PathReason> refused;  // the files that failed, in that order
};

// Loads every file, going on past failures so that all are reported at once.
// `progress` (may be empty) is called after each file with the files done.
LoadedDocuments loadDocuments(
    const std::vector<std::string>& files, const DocumentLimits& limits,
    const std::function<void(std::size_t done, std::size_t total)>& progress);

}  // namespace morvane::vesk::markdown_layout

#endif  // VESK_EXAMPLES_MARKDOWN_LAYOUT_DOCUMENT_LOADING_H_
