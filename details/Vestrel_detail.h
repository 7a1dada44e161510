// The details dialog: acts on one server or one partition found by the scans of the
// main window. Created once at start-up and reused for every opening; its fields keep
// their content from one opening to the next, but every opening starts with empty lists,
// so no name of an earlier opening is ever sent to the directory.
#pragma once

#include <QCheckBox>
#include <QDialog>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QToolButton>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

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

  // ---- Components ----
  QWidget* Panel2;
  QPushButton* OKBtn;
  QWidget* PanelTimeSelector;
  QLabel* LabelSchedule;
  QSpinBox* SpinEditH;
  QLabel* LabelScheduleH;
  QSpinBox* SpinEditM;
  QLabel* LabelScheduleM;
  QSpinBox* SpinEditS;
  QLabel* LabelScheduleS;
  QTabWidget* PageControl;

  QWidget* TabSheetSrvPart;
  QLabel* LabelInfoSrvPart;
  QListWidget* ListBoxSrvPart;
  QLabel* LabelSrvSelectPart;
  QPushButton* BitBtnSyncSchema;
  QPushButton* BitBtnSyncPart;
  QPushButton* BitBtnPartSendAll;
  QPushButton* BitBtnPartRcvAll;
  QPushButton* BitBtnPartJoin;
  QPushButton* BitBtnPartDel;
  QPushButton* BitBtnReplicaDel;
  QPushButton* BitBtnRepairTimeStamps;
  QPushButton* BitBtnReloadDS;

  QWidget* TabSheetPartSrv;
  QLabel* LabelInfoPartSrv;
  QListWidget* ListBoxPartServers;
  QLabel* LabelPartSelectSrv;
  QPushButton* BitBtnSyncSchema2;
  QPushButton* BitBtnSyncPart2;
  QPushButton* BitBtnPartSendAll2;
  QPushButton* BitBtnPartRcvAll2;
  QPushButton* BitBtnPartJoin2;
  QPushButton* BitBtnPartDel2;
  QPushButton* BitBtnReplicaDel2;
  QPushButton* BitBtnRepairTimeStamps2;
  // The ring changes, below the twins.
  QPushButton* BitBtnAddReplica;
  QPushButton* BitBtnChangeReplicaType;
  QPushButton* BitBtnSplitPartition;
  QPushButton* BitBtnAbortOperation;

  QWidget* TabSheetSyncReplica;
  QListWidget* ListBoxServer1;
  QToolButton* BtnSend1to2;
  QListWidget* ListBoxServer2;
  QWidget* PanelSyncReplicaBottom;
  QWidget* PanelSyncReplicaBottomLeft;
  QPushButton* BitBtnSyncReplica;
  QCheckBox* CheckBoxAllObjects;
  QWidget* PanelInfoSyncReplica;
  QLabel* LabelSyncReplicaInfo;

  // ---- Event handlers ----
  void FormCreate();
  // Builds the view of the object in ServerList or PartitionList; runs when the dialog shows.
  void FormShow();
  void FormUpdate();
  void EnableTabs();
  void PageControlChange();
  void ListBoxSrvPartClick();
  void ListBoxPartServersClick();
  void ListBoxServerClick();

  void GetSeconds();
  void BitBtnSyncSchemaClick();
  void BitBtnSyncPartClick();
  void BitBtnPartSendAllClick();
  void BitBtnPartRcvAllClick();
  void BitBtnSyncReplicaClick();
  void BitBtnPartJoinClick();
  void BitBtnPartDelClick();
  void BitBtnReplicaDelClick();
  void BitBtnRepairTimeStampsClick();
  void BitBtnReloadDSClick();
  void BitBtnAddReplicaClick();
  void BitBtnChangeReplicaTypeClick();
  void BitBtnSplitPartitionClick();
  void BitBtnAbortOperationClick();

  // What the ring changes of the partition view may offer, found when the view is built:
  // the tree's servers that hold no replica of the partition, the containers inside it
  // that are no partition root, and whether an operation is under way on its ring.
  std::vector<std::string> NewReplicaServers;
  std::vector<std::string> SplitContainers;
  bool RingBusy = false;

  // Closes the dialog; while FormShow runs the close waits until the show is over.
  void CloseDialog();

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void CreateControls();
  QWidget* CreateBottomPanel();
  QWidget* CreateServerPartitionsPage();
  QWidget* CreatePartitionServersPage();
  QWidget* CreateSyncReplicaPage();
  void ConnectEvents();
  // The two views of FormShow.
  void ShowServerView();
  void ShowPartitionView();
  // The partition view built anew after a ring change.
  void RefreshPartitionView();
  // Finds what the ring changes may offer (NewReplicaServers, SplitContainers, RingBusy).
  void FindRingChoices(const TextList& holders);
  // The types the chosen replica may change to ("Master", ...); none for a master or a
  // subordinate reference.
  std::vector<std::string> ChangeTypeChoices() const;
  // Asks the confirmation of a ring change in a box that says what it will do.
  bool ConfirmRingChange(const std::string& what) const;
  // Stores and reports an operation's code; true when it succeeded.
  bool Reported(NWRCODE code, const char* callName);
  // The operation buttons (without the twins) with their library calls.
  std::vector<std::pair<QPushButton*, const char*>> OperationButtons() const;
  // Asks which operations the tree of DirContext cannot carry.
  void AskCarriedOperations();
  // Disables the buttons of operations the tree cannot carry; their hints say why.
  void DisableUncarriedOperations();
  bool Carried(const char* callName) const { return uncarried_.find(callName) == uncarried_.end(); }

  // Operations the tree of DirContext cannot carry: library call -> why, and what does it
  // instead. Asked at each opening.
  std::map<std::string, std::string> uncarried_;
  bool inFormShow_ = false;
  bool closeAfterShow_ = false;
};

// The hint of a control as the dialog built it (CR LF between its lines); shown as the
// control's tool tip.
std::string HintOf(const QWidget& control);
// A list entry as a name: the text before its first " [", made absolute.
std::string CleanEntryName(const std::string& entry);

// The details dialog of the running program (created at start-up).
extern TDlgDetails* DlgDetails;

}  // namespace vestrel
