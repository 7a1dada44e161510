// Writing a document as the whole content of a file, the one way every file the program
// writes is written (exports, vestrel-check's --output, the settings file): never a
// half-written file, and never a special file destroyed by a rename over it.
#pragma once

#include <string>
#include <string_view>

namespace vestrel {

// Closes a descriptor when it goes out of scope.
class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor();
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int Get() const { return fd_; }
  // Closes now and tells whether the close succeeded (a late write error shows here).
  bool Close();

 private:
  int fd_;
};

struct FileWriteResult {
  bool ok = false;
  std::string problem;  // why the file was not written, for messages that give a reason
  explicit operator bool() const { return ok; }
};

// Makes content the whole content of the file at path:
// - no file, or a regular file: a temporary file beside it is written, flushed to disk and
//   renamed over it, so the old file stays whole when anything fails; a replaced file keeps
//   its permission bits (and, for root, its owner);
// - a regular file whose permission bits forbid the caller to write it is not replaced.
//   Root is held to the bits too: the kernel would let it write anything, but a file
//   without any write bit was made read-only on purpose;
// - a symbolic link stays: the file it finally points to is handled as above; a link that
//   points to nothing is refused;
// - a character device or a FIFO is opened and written through (a FIFO without a reader
//   is refused rather than waited for);
// - a folder or any other kind of file is refused.
// The temporary name fits the folder's file name limit whatever the length of path's name.
FileWriteResult ReplaceFileContent(const std::string& path, std::string_view content);

}  // namespace vestrel
