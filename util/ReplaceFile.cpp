#include "util/ReplaceFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "util/D_Util.h"

namespace vestrel {
namespace {

// What a path names once its links are followed, and how it is written.
enum class TargetKind { Absent, Regular, Stream, Refused };

struct Target {
  TargetKind kind = TargetKind::Refused;
  std::string path;     // the path to write: a link's final target for a regular file
  std::string problem;  // for Refused
  struct stat info {};
};

Target Refused(std::string problem) {
  Target target;
  target.problem = std::move(problem);
  return target;
}

std::string ErrnoText(int error) { return std::strerror(error); }

Target ResolveTarget(const std::string& path) {
  Target target;
  target.path = path;
  if (::lstat(path.c_str(), &target.info) != 0) {
    if (errno != ENOENT) return Refused(ErrnoText(errno));
    target.kind = TargetKind::Absent;
    return target;
  }
  if (S_ISLNK(target.info.st_mode)) {
    if (::stat(path.c_str(), &target.info) != 0)
      return Refused(errno == ENOENT ? "it is a symbolic link to nothing" : ErrnoText(errno));
    if (S_ISREG(target.info.st_mode)) {
      // The link stays; the file it finally points to is the one replaced.
      char resolved[PATH_MAX];
      if (::realpath(path.c_str(), resolved) == nullptr) return Refused(ErrnoText(errno));
      target.path = resolved;
    }
  }
  const mode_t type = target.info.st_mode & S_IFMT;
  if (type == S_IFREG) {
    target.kind = TargetKind::Regular;
  } else if (type == S_IFCHR || type == S_IFIFO) {
    target.kind = TargetKind::Stream;  // opened through path, which follows the links itself
  } else if (type == S_IFDIR) {
    return Refused("it is a folder");
  } else {
    return Refused("it is neither a regular file nor a character device nor a FIFO");
  }
  return target;
}

bool MayWrite(const Target& target) {
  if (::geteuid() == 0) return (target.info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) != 0;
  return ::faccessat(AT_FDCWD, target.path.c_str(), W_OK, AT_EACCESS) == 0;
}

bool WriteAll(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t written = ::write(fd, data.data(), data.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

FileWriteResult Failed(std::string problem) { return {false, std::move(problem)}; }
FileWriteResult FailedWithErrno() { return Failed(ErrnoText(errno)); }

// ---- Devices and FIFOs: written through ----

FileWriteResult WriteThrough(const Target& target, std::string_view content) {
  // Non-blocking open: a FIFO nobody reads would otherwise hold the program up for good.
  FileDescriptor file(::open(target.path.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (file.Get() < 0) return errno == ENXIO ? Failed("it is a FIFO that nobody reads") : FailedWithErrno();
  struct stat opened {};
  // Something else put in its place since it was looked at is not written over.
  if (::fstat(file.Get(), &opened) != 0 || !(S_ISCHR(opened.st_mode) || S_ISFIFO(opened.st_mode)))
    return Failed("it changed while it was being opened");
  const int flags = ::fcntl(file.Get(), F_GETFL);
  if (flags < 0 || ::fcntl(file.Get(), F_SETFL, flags & ~O_NONBLOCK) != 0) return FailedWithErrno();
  if (!WriteAll(file.Get(), content)) return FailedWithErrno();
  if (!file.Close()) return FailedWithErrno();
  return {true, {}};
}

// ---- Regular files: replaced atomically ----

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string BaseNameOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// "." + the start of the target's name + "." + six hex digits: the name shows what the
// temporary file is for, and fits the folder's limit however long the target's name is.
constexpr std::size_t kKeptNameBytes = 32;
constexpr std::size_t kTemporaryExtraBytes = 8;  // the two dots and the six digits

std::string TemporaryName(const std::string& target, unsigned serial) {
  const std::string folder = FolderOf(target);
  const std::string base = BaseNameOf(target);
  long nameMax = ::pathconf(folder.empty() ? "." : folder.c_str(), _PC_NAME_MAX);
  if (nameMax <= 0) nameMax = NAME_MAX;
  const std::size_t room = static_cast<std::size_t>(nameMax) > kTemporaryExtraBytes
                               ? static_cast<std::size_t>(nameMax) - kTemporaryExtraBytes
                               : 0;
  const std::string kept = base.substr(0, std::min({base.size(), kKeptNameBytes, room}));
  return folder + "." + kept + Format(".%.6x", serial & 0xFFFFFFu);
}

// A new, exclusive temporary file in the target's folder, so the rename cannot cross file
// systems; created as any new file is (0666 less the umask). -1 when none can be made.
int CreateTemporaryBeside(const std::string& target, std::string& temporary) {
  static std::atomic<unsigned> counter{0};
  const unsigned start = static_cast<unsigned>(::getpid()) * 2654435761u;
  for (int attempt = 0; attempt < 100; ++attempt) {
    temporary = TemporaryName(target, start + ++counter);
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}

// A replaced file keeps what it had, as when it is overwritten in place.
bool KeepOwnerAndMode(const Target& target, int fd) {
  if (target.kind != TargetKind::Regular) return true;
  // Only root can give a file away; anyone else's new file is theirs anyway.
  if (::geteuid() == 0 && ::fchown(fd, target.info.st_uid, target.info.st_gid) != 0) return false;
  return ::fchmod(fd, target.info.st_mode & 07777) == 0;
}

void SyncFolder(const std::string& folder) {
  FileDescriptor directory(::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (directory.Get() >= 0) ::fsync(directory.Get());  // durability only; the rename is done
}

FileWriteResult ReplaceAtomically(const Target& target, std::string_view content) {
  std::string temporary;
  FileDescriptor file(CreateTemporaryBeside(target.path, temporary));
  if (file.Get() < 0) return FailedWithErrno();
  bool ok = KeepOwnerAndMode(target, file.Get()) && WriteAll(file.Get(), content) && ::fsync(file.Get()) == 0;
  int error = ok ? 0 : errno;
  if (!file.Close() && ok) {
    ok = false;
    error = errno;
  }
  if (ok && ::rename(temporary.c_str(), target.path.c_str()) != 0) {
    ok = false;
    error = errno;
  }
  if (!ok) {
    ::unlink(temporary.c_str());
    return Failed(ErrnoText(error));
  }
  SyncFolder(FolderOf(target.path));
  return {true, {}};
}

}  // namespace

FileDescriptor::~FileDescriptor() {
  if (fd_ >= 0) ::close(fd_);
}

bool FileDescriptor::Close() {
  const int fd = fd_;
  fd_ = -1;
  return ::close(fd) == 0;
}

FileWriteResult ReplaceFileContent(const std::string& path, std::string_view content) {
  if (path.empty()) return Failed(ErrnoText(ENOENT));
  const Target target = ResolveTarget(path);
  if (target.kind == TargetKind::Refused) return Failed(target.problem);
  if (target.kind != TargetKind::Absent && !MayWrite(target)) return Failed("its permissions forbid writing it");
  if (target.kind == TargetKind::Stream) return WriteThrough(target, content);
  return ReplaceAtomically(target, content);
}

}  // namespace vestrel
