// Small drawn images of the details dialog's operation buttons.
#pragma once

#include <QIcon>

namespace vestrel {

enum class DetailIconKind {
  SyncSchema,
  SyncPartition,
  SendAll,
  ReceiveAll,
  Join,
  RemovePartition,
  RemoveReplica,
  RepairTimeStamps,
  ReloadDS,
  SyncReplica,
  AddReplica,
  ChangeReplicaType,
  SplitPartition,
  AbortOperation,
};

// The image of one kind (drawn once, then kept); needs a running QGuiApplication.
QIcon DetailIcon(DetailIconKind kind);

}  // namespace vestrel
