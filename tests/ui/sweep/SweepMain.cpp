// The library failure sweep runs offscreen. Test discovery runs this program at build
// time without ctest's environment, so the platform is set here too.
#include <QApplication>
#include <gtest/gtest.h>
#include <unistd.h>

#include "directory/D_NW_Errors.h"

namespace {

QtMessageHandler defaultHandler = nullptr;

// The offscreen platform remarks on every window it cannot size by hints.
void QuietOffscreenRemarks(QtMsgType type, const QMessageLogContext& context, const QString& message) {
  if (message.contains(QLatin1String("propagateSizeHints"))) return;
  defaultHandler(type, context, message);
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  // Every run writes its settings (and some their exports) through fsync; the sweep makes
  // hundreds of runs, so its temporary folders live in memory when the machine has one.
  if (qEnvironmentVariableIsEmpty("TMPDIR") && ::access("/dev/shm", W_OK) == 0) qputenv("TMPDIR", "/dev/shm");
  defaultHandler = qInstallMessageHandler(QuietOffscreenRemarks);
  // Error boxes carry the error-text library's messages, as beside the installed program.
  vestrel::SetErrorTextLibraryPath(VESTREL_NWERR_LIBRARY);
  QApplication application(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
