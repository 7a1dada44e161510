// Closes the main window when the program is asked to end: SIGTERM (the desktop session
// ends, a service manager or `kill` stops it) or SIGINT (Ctrl+C in its terminal). The
// window closes as by its frame's close button, so its settings are kept.
#pragma once

#include <QObject>
#include <QPointer>
#include <QWidget>

class QSocketNotifier;

namespace vestrel {

class CloseOnTerminationSignal final : public QObject {
 public:
  // One at a time: the signals go to the last one made, and back to their default when it ends.
  explicit CloseOnTerminationSignal(QWidget& window);
  ~CloseOnTerminationSignal() override;
  CloseOnTerminationSignal(const CloseOnTerminationSignal&) = delete;
  CloseOnTerminationSignal& operator=(const CloseOnTerminationSignal&) = delete;

 private:
  void SignalArrived();

  QPointer<QWidget> window_;
  QSocketNotifier* notifier_ = nullptr;
};

}  // namespace vestrel
