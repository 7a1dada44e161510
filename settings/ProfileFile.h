// ProfileFile: one profile (INI) file, read and written one key at a time the way the
// Windows profile functions do it: the file is read anew on every call, names match
// without regard to case, a missing file, section or key gives the caller's default.
//
// Every write replaces the whole file atomically (ReplaceFileContent, util/ReplaceFile.h:
// a temporary file in the same folder, flushed to disk, renamed over the file), so a failed
// write leaves the old file as it was; a file its permissions keep from being written is
// not replaced. Lines the write does not touch are kept byte for byte.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace vestrel {

// A write that could not be done; the message is "Unable to write to <path>".
class ProfileWriteError : public std::runtime_error {
 public:
  explicit ProfileWriteError(const std::string& path);
};

class ProfileFile {
 public:
  explicit ProfileFile(std::string path);

  const std::string& Path() const { return path_; }
  // Tells file objects and their states apart: distinct for every object, and changed
  // by every write, so that nothing read before a write is taken as current after it.
  std::uint64_t Serial() const { return serial_; }

  std::string ReadString(std::string_view section, std::string_view key, std::string_view defaultValue) const;
  // The value converted by TextToIntDef; an empty or missing value gives defaultValue.
  std::int32_t ReadInteger(std::string_view section, std::string_view key, std::int32_t defaultValue) const;
  // Every entry of the section as "key=value", in file order.
  std::vector<std::string> ReadSection(std::string_view section) const;

  // Sets key in section. Line breaks in value are written as blanks (they would split the
  // entry). Throws ProfileWriteError when the file cannot be written, or when it exists
  // but cannot be read (writing would lose its content); std::invalid_argument for a
  // section or key that no profile line can hold.
  void WriteString(std::string_view section, std::string_view key, std::string_view value);
  void WriteInteger(std::string_view section, std::string_view key, std::int32_t value);

 private:
  std::string path_;
  std::uint64_t serial_;
};

}  // namespace vestrel
