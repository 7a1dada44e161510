// The window asked to end by a signal (session logout, kill, Ctrl+C) closes as by its close
// button, so it keeps its settings, and the program's event loop ends.
#include "app/TerminationSignal.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QTimer>
#include <QWidget>
#include <csignal>
#include <gtest/gtest.h>

namespace vestrel {
namespace {

class CountingWindow final : public QWidget {
 public:
  int closes = 0;

 protected:
  void closeEvent(QCloseEvent* event) override {
    ++closes;
    event->accept();
  }
};

void (*CurrentHandler(int number))(int) {
  struct sigaction current {};
  sigaction(number, nullptr, &current);
  return current.sa_handler;
}

TEST(CloseOnTerminationSignal, EachSignalClosesTheWindowOnceAndEndsTheEventLoop) {
  for (const int number : {SIGTERM, SIGINT}) {
    CountingWindow window;
    window.show();
    {
      CloseOnTerminationSignal closeOnSignal(window);
      QTimer::singleShot(0, [number] { raise(number); });
      QTimer watchdog;  // never a hang
      watchdog.setSingleShot(true);
      QObject::connect(&watchdog, &QTimer::timeout, [] { QCoreApplication::exit(99); });
      watchdog.start(10000);
      EXPECT_EQ(QCoreApplication::exec(), 0) << "signal " << number;
      EXPECT_EQ(window.closes, 1) << "signal " << number;
    }
    // Without the window the signal ends the program again as it normally does.
    EXPECT_EQ(CurrentHandler(number), SIG_DFL);
  }
}

}  // namespace
}  // namespace vestrel
