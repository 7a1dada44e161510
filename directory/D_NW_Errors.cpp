#include "directory/D_NW_Errors.h"

#include <dlfcn.h>

#include <cstdint>
#include <cstring>

#include "util/D_Util.h"

namespace vestrel {
namespace {

using StrErrorFunction = const char* (*)(std::int32_t);

constexpr const char* kUnknownError = "Unknown error";

std::string& OverridePath() {
  static std::string path;
  return path;
}

std::string DirectoryOf(const std::string& file) {
  const std::size_t slash = file.rfind('/');
  return slash == std::string::npos ? std::string() : file.substr(0, slash + 1);
}

// The library is loaded for one look-up and unloaded after it; nothing is cached, so a
// library installed or removed while the program runs is noticed at the next error.
class ErrorTextLibrary {
 public:
  ErrorTextLibrary() {
    if (!OverridePath().empty()) {
      handle_ = Open(OverridePath());
      return;
    }
    // Beside the program, in the installed library folder, then on the loader path.
    const std::string programDirectory = DirectoryOf(ProgramFilePath());
    if (!programDirectory.empty()) {
      handle_ = Open(programDirectory + kErrorTextLibrary);
      if (handle_ == nullptr) handle_ = Open(InstalledLibraryFolder() + "/" + kErrorTextLibrary);
    }
    if (handle_ == nullptr) handle_ = Open(kErrorTextLibrary);
  }
  ~ErrorTextLibrary() {
    if (handle_ != nullptr) dlclose(handle_);
  }
  ErrorTextLibrary(const ErrorTextLibrary&) = delete;
  ErrorTextLibrary& operator=(const ErrorTextLibrary&) = delete;

  bool Loaded() const { return handle_ != nullptr; }

  // The library's text for code, copied out before the library is unloaded.
  std::string Message(NWRCODE code) const {
    auto function = reinterpret_cast<StrErrorFunction>(dlsym(handle_, "NWstrerror"));
    if (function == nullptr) return kUnknownError;
    const char* text = function(code);
    return text != nullptr ? std::string(text) : std::string(kUnknownError);
  }

 private:
  static void* Open(const std::string& path) { return dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL); }

  void* handle_ = nullptr;
};

std::string SystemMessage(NWRCODE code) {
  const char* text = std::strerror(code);
  return text != nullptr ? std::string(text) : std::string();
}

}  // namespace

void SetErrorTextLibraryPath(const std::string& path) { OverridePath() = path; }

std::string ErrorMessage(NWRCODE code) {
  const ErrorTextLibrary library;
  if (!library.Loaded()) return {};
  const std::string message = library.Message(code);
  return message == kUnknownError ? SystemMessage(code) : message;
}

std::string ErrorText(NWRCODE code) {
  const std::string hexText = Format("0x%.4X", static_cast<std::uint32_t>(code));
  const std::string message = ErrorMessage(code);
  return message.empty() ? hexText : Format("%s (%s)", hexText, message);
}

void ReportError(NWRCODE code, const std::string& label) {
  if (code == 0) return;
  ShowNotice(DialogKind::Error, Format("%s returned error %s", label, ErrorText(code)));
}

bool IsLinkFailure(NWRCODE code) {
  return code == ERR_TRANSPORT_FAILURE || code == ERR_UNREACHABLE_SERVER || code == ERR_CONNECTION_TIMEOUT ||
         code == ERR_INVALID_SERVER_RESPONSE || code == ERR_ALL_REFERRALS_FAILED;
}

}  // namespace vestrel
