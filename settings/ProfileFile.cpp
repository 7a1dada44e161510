#include "settings/ProfileFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <optional>

#include "settings/ProfileText.h"
#include "util/D_Util.h"

namespace vestrel {
namespace {

std::uint64_t NextSerial() {
  static std::atomic<std::uint64_t> counter{0};
  return ++counter;
}

// Closes a descriptor when it goes out of scope.
class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int Get() const { return fd_; }
  // Closes now and tells whether the close succeeded (a late write error shows here).
  bool Close() {
    const int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0;
  }

 private:
  int fd_;
};

// Far beyond any settings file; a bigger one is not read (nor, then, overwritten), so that
// a stray huge or sparse file cannot exhaust memory.
constexpr std::size_t kMaxProfileSize = 64 * 1024 * 1024;

enum class FileState { Missing, Read, Unreadable };

struct FileContent {
  FileState state = FileState::Missing;
  std::string bytes;
};

FileContent LoadFile(const std::string& path) {
  FileContent content;
  // Non-blocking, so that a pipe in the file's place cannot hold the program up.
  FileDescriptor file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (file.Get() < 0) {
    content.state = errno == ENOENT ? FileState::Missing : FileState::Unreadable;
    return content;
  }
  struct stat info {};
  if (::fstat(file.Get(), &info) != 0 || !S_ISREG(info.st_mode) ||
      static_cast<std::uint64_t>(info.st_size) > kMaxProfileSize) {
    content.state = FileState::Unreadable;
    return content;
  }
  content.bytes.reserve(static_cast<std::size_t>(info.st_size));
  char chunk[65536];
  for (;;) {
    const ssize_t count = ::read(file.Get(), chunk, sizeof chunk);
    if (count == 0) break;
    if (count < 0 && errno == EINTR) continue;
    if (count < 0 || content.bytes.size() + static_cast<std::size_t>(count) > kMaxProfileSize) {
      content.state = FileState::Unreadable;
      content.bytes.clear();
      return content;
    }
    content.bytes.append(chunk, static_cast<std::size_t>(count));
  }
  content.state = FileState::Read;
  return content;
}

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t count = ::write(fd, bytes.data(), bytes.size());
    if (count < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(count));
  }
  return true;
}

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// A settings file kept elsewhere through a symbolic link stays a link: the file it points
// to is the one replaced.
std::string ReplacedPath(const std::string& path) {
  struct stat info {};
  if (::lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return path;
  char resolved[PATH_MAX];
  if (::realpath(path.c_str(), resolved) == nullptr) return path;
  return resolved;
}

void SyncFolder(const std::string& folder) {
  FileDescriptor directory(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (directory.Get() >= 0) ::fsync(directory.Get());  // durability only; the rename is done
}

// Writes bytes to a temporary file beside target, flushes it and renames it over target.
bool ReplaceFileAtomically(const std::string& target, std::string_view bytes) {
  std::string temporary = target + ".XXXXXX";
  FileDescriptor file(::mkostemp(temporary.data(), O_CLOEXEC));
  if (file.Get() < 0) return false;
  struct stat existing {};
  const bool keptMode = ::stat(target.c_str(), &existing) != 0 ||
                        ::fchmod(file.Get(), existing.st_mode & 07777) == 0;
  const bool written = keptMode && WriteAll(file.Get(), bytes) && ::fsync(file.Get()) == 0;
  if (!file.Close() || !written || ::rename(temporary.c_str(), target.c_str()) != 0) {
    ::unlink(temporary.c_str());
    return false;
  }
  SyncFolder(FolderOf(target));
  return true;
}

bool HasLineBreak(std::string_view text) { return text.find_first_of("\r\n") != std::string_view::npos; }

void CheckNames(std::string_view section, std::string_view key) {
  if (HasLineBreak(section) || section.find(']') != std::string_view::npos)
    throw std::invalid_argument("profile section name cannot be written: " + std::string(section));
  if (HasLineBreak(key) || key.find('=') != std::string_view::npos)
    throw std::invalid_argument("profile key cannot be written: " + std::string(key));
}

std::string OnOneLine(std::string_view value) {
  std::string line(value);
  for (char& c : line)
    if (c == '\r' || c == '\n') c = ' ';
  return line;
}

}  // namespace

ProfileWriteError::ProfileWriteError(const std::string& path)
    : std::runtime_error(Format("Unable to write to %s", path)) {}

ProfileFile::ProfileFile(std::string path) : path_(std::move(path)), serial_(NextSerial()) {}

std::string ProfileFile::ReadString(std::string_view section, std::string_view key,
                                    std::string_view defaultValue) const {
  const FileContent content = LoadFile(path_);
  if (content.state != FileState::Read) return std::string(defaultValue);
  std::optional<std::string> value = FindProfileValue(content.bytes, section, key);
  return value ? std::move(*value) : std::string(defaultValue);
}

std::int32_t ProfileFile::ReadInteger(std::string_view section, std::string_view key,
                                      std::int32_t defaultValue) const {
  const std::string text = ReadString(section, key, "");
  return text.empty() ? defaultValue : TextToIntDef(text, defaultValue);
}

std::vector<std::string> ProfileFile::ReadSection(std::string_view section) const {
  const FileContent content = LoadFile(path_);
  if (content.state != FileState::Read) return {};
  return ProfileSectionEntries(content.bytes, section);
}

void ProfileFile::WriteString(std::string_view section, std::string_view key, std::string_view value) {
  CheckNames(section, key);
  const FileContent content = LoadFile(path_);
  if (content.state == FileState::Unreadable) throw ProfileWriteError(path_);
  const std::string updated = WithProfileValue(content.bytes, section, key, OnOneLine(value));
  if (content.state == FileState::Read && updated == content.bytes) return;
  if (!ReplaceFileAtomically(ReplacedPath(path_), updated)) throw ProfileWriteError(path_);
  serial_ = NextSerial();
}

void ProfileFile::WriteInteger(std::string_view section, std::string_view key, std::int32_t value) {
  WriteString(section, key, std::to_string(value));
}

}  // namespace vestrel
