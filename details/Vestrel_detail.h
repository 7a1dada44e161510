// The details dialog: acts on one server or one partition found by the scans of the
// main window. Created once at start-up and reused for every opening; its fields and
// lists keep their content from one opening to the next.
#pragma once

#include <QDialog>
#include <cstdint>
#include <memory>
#include <string>

#include "directory/NTypes.h"
#include "util/TextList.h"

namespace vestrel {

class TDlgDetails : public QDialog {
  Q_OBJECT

 public:
  explicit TDlgDetails(QWidget* parent = nullptr);
  ~TDlgDetails() override;

  // The server the dialog opens for (one line, or empty), and likewise the partition.
  std::unique_ptr<TextList> ServerList;
  std::unique_ptr<TextList> PartitionList;
  std::string ServerName;     // the selected server; the operations act on it
  std::string PartitionName;  // the selected partition
  std::string SourceServer;   // left list of the replica page
  std::string TargetServer;   // right list of the replica page
  std::int32_t DelaySeconds = 0;
  NWDSContextHandle DirContext = 0;  // the main window's context, handed over before each opening
  NWRCODE LastError = 0;             // code of the dialog's last library call

 protected:
  void FormCreate();
};

// The details dialog of the running program (created at start-up).
extern TDlgDetails* DlgDetails;

}  // namespace vestrel
