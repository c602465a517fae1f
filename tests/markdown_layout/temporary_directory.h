#ifndef VESK_TESTS_MARKDOWN_LAYOUT_TEMPORARY_DIRECTORY_H_
#define VESK_TESTS_MARKDOWN_LAYOUT_TEMPORARY_DIRECTORY_H_

#include <zlib.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>

namespace morvane::vesk::testing {

// `text` as one gzip member.
inline std::string gzipBytes(const std::string& text) {
  z_stream z{};
  if (::deflateInit2(&z, Z_BEST_SPEED, Z_DEFLATED, 16 + MAX_WBITS, 8,
                     Z_DEFAULT_STRATEGY) != Z_OK) {
    throw std::runtime_error("deflateInit2 failed");
  }
  std::string out(::deflateBound(&z, static_cast<uLong>(text.size())), '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
  z.avail_in = static_cast<uInt>(text.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  const int code = ::deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  ::deflateEnd(&z);
  if (code != Z_STREAM_END) throw std::runtime_error("deflate failed");
  return out;
}

// A fresh directory, removed with everything in it at the end of the test.
class TemporaryDirectory {
 public:
  TemporaryDirectory() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "markdown_layout_test.XXXXXX")
            .string();
    if (::mkdtemp(pattern.data()) == nullptr) {
      throw std::runtime_error("mkdtemp failed");
    }
    path_ = pattern;
  }
  TemporaryDirectory(const TemporaryDirectory&) = delete;
  TemporaryDirectory& operator=(const TemporaryDirectory&) = delete;
  ~TemporaryDirectory() {
    std::error_code ignored;
    std::filesystem::permissions(path_, std::filesystem::perms::all, ignored);
    for (auto it = std::filesystem::recursive_directory_iterator(
             path_, std::filesystem::directory_options::skip_permission_denied,
             ignored);
         !ignored && it != std::filesystem::recursive_directory_iterator();
         it.increment(ignored)) {
      std::error_code typeError;
      if (std::filesystem::is_directory(it->symlink_status(typeError))) {
        std::filesystem::permissions(it->path(), std::filesystem::perms::all,
                                     ignored);
      }
    }
    std::filesystem::remove_all(path_, ignored);
  }

  // Writes `content` to `name` (subdirectories made as needed); returns the
  // file's path.
  [[nodiscard]] std::string write(const std::string& name,
                                  const std::string& content) const {
    const std::filesystem::path file = path_ / name;
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << content;
    return file.string();
  }

  [[nodiscard]] std::string writeGzip(const std::string& name,
                                      const std::string& content) const {
    return write(name, gzipBytes(content));
  }

  [[nodiscard]] std::string path(const std::string& name = "") const {
    return (path_ / name).string();
  }

 private:
  std::filesystem::path path_;
};

}  // namespace morvane::vesk::testing

#endif  // VESK_TESTS_MARKDOWN_LAYOUT_TEMPORARY_DIRECTORY_H_
