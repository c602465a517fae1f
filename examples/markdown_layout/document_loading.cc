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
#include <system_error>
#include <utility>

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
  throw InputError(path + ": " + reason);
}

// Closes a descriptor on every path out.
class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  Descriptor(Descriptor&& other) noexcept : fd_(other.release()) {}
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  Descriptor& operator=(Descriptor&&) = delete;
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  [[nodiscard]] int get() const { return fd_; }
  int release() { return std::exchange(fd_, -1); }

 private:
  int fd_;
};

// Opens `path` for reading without blocking on a FIFO or device, and makes
// sure it is a regular file.
Descriptor openRegularFile(const std::string& path) {
  Descriptor fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (fd.get() < 0) fail(path, errnoText());
  struct stat info {};
  if (::fstat(fd.get(), &info) != 0) fail(path, errnoText());
  if (S_ISDIR(info.st_mode)) fail(path, "is a directory, not a file");
  if (!S_ISREG(info.st_mode)) fail(path, "not a regular file");
  return fd;
}

std::string readPlain(const std::string& path) {
  const Descriptor fd = openRegularFile(path);
  std::string text;
  std::array<char, 65536> buffer{};
  for (;;) {
    const ssize_t got = ::read(fd.get(), buffer.data(), buffer.size());
    if (got == 0) break;
    if (got < 0) {
      if (errno == EINTR) continue;
      fail(path, "cannot read: " + errnoText());
    }
    text.append(buffer.data(), static_cast<std::size_t>(got));
  }
  return text;
}

std::string readGzip(const std::string& path) {
  Descriptor fd = openRegularFile(path);
  gzFile file = ::gzdopen(fd.get(), "rb");
  if (file == nullptr) fail(path, "cannot open for decompression");
  fd.release();  // gzclose closes it
  std::string text;
  std::array<char, 65536> buffer{};
  std::string error;
  for (;;) {
    const int got =
        ::gzread(file, buffer.data(), static_cast<unsigned>(buffer.size()));
    if (got > 0) {
      text.append(buffer.data(), static_cast<std::size_t>(got));
      continue;
    }
    break;
  }
  // A stream cut short ends the reads without a negative count but leaves
  // Z_BUF_ERROR ("unexpected end of file") behind.
  int code = Z_OK;
  const char* message = ::gzerror(file, &code);
  if (code != Z_OK) {
    error = std::string("invalid gzip data: ") + message;
  }
  // zlib reads data without a gzip header as it is; a .gz name promises gzip.
  const bool direct = ::gzdirect(file) != 0;
  ::gzclose(file);
  if (!error.empty()) fail(path, error);
  if (direct && !text.empty()) fail(path, "not gzip data");
  return text;
}

void addDirectory(const std::string& directory,
                  std::vector<std::string>& files) {
  std::vector<std::string> found;
  std::error_code error;
  fs::recursive_directory_iterator it(
      directory, fs::directory_options::skip_permission_denied, error);
  for (; !error && it != fs::recursive_directory_iterator();
       it.increment(error)) {
    const fs::directory_entry& entry = *it;
    std::error_code typeError;
    if (entry.is_regular_file(typeError) &&
        isMarkdownName(entry.path().filename().string())) {
      found.push_back(entry.path().string());
    }
  }
  if (error) fail(directory, "cannot list: " + error.message());
  if (found.empty())
    fail(directory, "no *.md or *.md.gz files in this directory");
  std::sort(found.begin(), found.end());
  files.insert(files.end(), found.begin(), found.end());
}

}  // namespace

std::vector<std::string> findMarkdownFiles(
    const std::vector<std::string>& paths) {
  std::vector<std::string> files;
  for (const std::string& path : paths) {
    std::error_code error;
    const fs::file_status status = fs::status(path, error);
    if (error || !fs::exists(status)) {
      fail(path, error ? error.message() : "No such file or directory");
    }
    if (fs::is_directory(status)) {
      addDirectory(path, files);
    } else {
      files.push_back(path);  // whatever it is, loading says what is wrong
    }
  }
  return files;
}

std::string loadMarkdownFile(const std::string& path) {
  return path.ends_with(".gz") ? readGzip(path) : readPlain(path);
}

}  // namespace morvane::vesk::markdown_layout
