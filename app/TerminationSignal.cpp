#include "app/TerminationSignal.h"

#include <fcntl.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QSocketNotifier>
#include <cerrno>
#include <csignal>

namespace vestrel {
namespace {

constexpr int kSignals[] = {SIGTERM, SIGINT};

// A signal handler may do almost nothing: it writes one byte, and the event loop, woken
// by it, closes the window.
int signalPipe[2] = {-1, -1};

void WriteSignalByte(int) {
  const int savedErrno = errno;
  const char byte = 1;
  [[maybe_unused]] const ssize_t written = write(signalPipe[1], &byte, 1);
  errno = savedErrno;
}

void SetSignalHandler(void (*handler)(int)) {
  struct sigaction action {};
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (const int number : kSignals) sigaction(number, &action, nullptr);
}

}  // namespace

CloseOnTerminationSignal::CloseOnTerminationSignal(QWidget& window) : window_(&window) {
  // Without the pipe the signals keep their default: the program ends without saving.
  if (pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
  notifier_ = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, this);
  connect(notifier_, &QSocketNotifier::activated, this, [this] { SignalArrived(); });
  SetSignalHandler(WriteSignalByte);
}

CloseOnTerminationSignal::~CloseOnTerminationSignal() {
  if (notifier_ == nullptr) return;
  SetSignalHandler(SIG_DFL);
  delete notifier_;
  close(signalPipe[0]);
  close(signalPipe[1]);
  signalPipe[0] = signalPipe[1] = -1;
}

void CloseOnTerminationSignal::SignalArrived() {
  char bytes[16];
  while (read(signalPipe[0], bytes, sizeof bytes) > 0) {
  }
  if (window_) window_->close();
  // A modal box still open would keep the program running: every event loop ends.
  QCoreApplication::exit(0);
}

}  // namespace vestrel
