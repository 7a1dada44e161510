// What the sweep's program needs before its tests run (the shared window test main runs them).
#include <QByteArray>
#include <QtGlobal>
#include <unistd.h>

#include "directory/D_NW_Errors.h"

namespace {

const bool prepared = [] {
  // Every run writes its settings (and some their exports) through fsync; the sweep makes
  // hundreds of runs, so its temporary folders live in memory when the machine has one.
  if (qEnvironmentVariableIsEmpty("TMPDIR") && ::access("/dev/shm", W_OK) == 0) qputenv("TMPDIR", "/dev/shm");
  // Error boxes carry the error-text library's messages, as beside the installed program.
  vestrel::SetErrorTextLibraryPath(VESTREL_NWERR_LIBRARY);
  return true;
}();

}  // namespace
