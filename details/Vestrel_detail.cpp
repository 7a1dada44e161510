#include "details/Vestrel_detail.h"

namespace vestrel {

TDlgDetails* DlgDetails = nullptr;

TDlgDetails::TDlgDetails(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("DlgDetails"));
  FormCreate();
}

TDlgDetails::~TDlgDetails() = default;

void TDlgDetails::FormCreate() {
  ServerList = std::make_unique<TextList>();
  PartitionList = std::make_unique<TextList>();
}

}  // namespace vestrel
