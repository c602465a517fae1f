#ifndef VESK_EXAMPLES_MARKDOWN_LAYOUT_DOCUMENT_LOADING_H_
#define VESK_EXAMPLES_MARKDOWN_LAYOUT_DOCUMENT_LOADING_H_

#include <stdexcept>
#include <string>
#include <vector>

namespace morvane::vesk::markdown_layout {

// Where the default documents are: the markdown documentation of Debian's
// docker-doc package.
inline constexpr const char* kDefaultDocumentDirectory =
    "/usr/share/doc/docker-doc";

// A path the program cannot use. what() names the path and the reason.
class InputError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The markdown files that `paths` designate, in the order given: a regular
// file as itself, whatever its name; a directory as every `*.md` and
// `*.md.gz` regular file below it, in sorted path order. Throws InputError
// for a path that does not exist, is neither a file nor a directory, or is a
// directory holding no markdown.
std::vector<std::string> findMarkdownFiles(
    const std::vector<std::string>& paths);

// The text of the markdown file at `path`, decompressed when the name ends in
// `.gz`. Throws InputError if the file cannot be opened or read, or is not
// gzip data when its name says so.
std::string loadMarkdownFile(const std::string& path);

}  // namespace morvane::vesk::markdown_layout

#endif  // VESK_EXAMPLES_MARKDOWN_LAYOUT_DOCUMENT_LOADING_H_
