// Error texts and the one way a failed directory call is shown to the user.
#pragma once

#include <string>

#include "directory/NTypes.h"

namespace vestrel {

// "0x%.4X" of the code, then " (message)" when the error-text library can be loaded.
std::string ErrorText(NWRCODE code);
// The message alone ("Transport failure"); empty when the error-text library cannot be loaded.
std::string ErrorMessage(NWRCODE code);
// Nothing for 0; otherwise an error box "<label> returned error <ErrorText(code)>".
void ReportError(NWRCODE code, const std::string& label);

// Whether a call failed because the link to the directory did (the server gone or not
// answering in time, an answer that could not be read, a referral to servers not
// reached), rather than because the directory refused it (no such attribute, no rights).
bool IsLinkFailure(NWRCODE code);

// The file name of the optional error-text library, looked up beside the program, in the
// installed library folder (lib/vestrel), then on the loader path.
inline constexpr const char* kErrorTextLibrary = "libnwerr32.so";

// For tests: look the error-text library up at this one path only (a path where no file
// lies stands for "not installed"); an empty path restores the normal lookup.
void SetErrorTextLibraryPath(const std::string& path);

}  // namespace vestrel
