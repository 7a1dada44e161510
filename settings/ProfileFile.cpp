#include "settings/ProfileFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <optional>

#include "settings/ProfileText.h"
#include "util/D_Util.h"
#include "util/ReplaceFile.h"

namespace vestrel {
namespace {

std::uint64_t NextSerial() {
  static std::atomic<std::uint64_t> counter{0};
  return ++counter;
}

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
  if (!ReplaceFileContent(path_, updated)) throw ProfileWriteError(path_);
  serial_ = NextSerial();
}

void ProfileFile::WriteInteger(std::string_view section, std::string_view key, std::int32_t value) {
  WriteString(section, key, std::to_string(value));
}

}  // namespace vestrel
