// The export command of both scan pages.
#include "app/Vestrel_main.h"
#include "export/ExportTargets.h"
#include "scan/ScanSteps.h"
#include "util/D_Util.h"

namespace vestrel {

// The page's grid goes to a file in the current folder named after the tree, the page and
// the chosen type ("MYTREE_Servers.HTML"), or through the clipboard to a spreadsheet.
void TMainForm::BitBtnExpClick(QObject* sender) {
  if (ScanRunning()) return;  // the grid is still being written
  const bool servers = sender == BitBtnExpSrv;
  if (!servers && sender != BitBtnExpPart) return;
  const StringGridView* view = servers ? StringGridSrv : StringGridPart;
  const QComboBox* typeBox = servers ? ComboBoxTypeS : ComboBoxTypeP;
  const std::string typeText = typeBox->currentText().toStdString();
  const std::string fileName =
      ComboBoxTrees->currentText().toStdString() + (servers ? "_Servers." : "_Partition.") + typeText;
  // Only a file this export wrote is reported: a spreadsheet export writes none, even when
  // an older file of that name lies in the folder.
  if (ExportGridToFile(view->Grid(), typeText, fileName) == ExportResult::FileWritten) {
    ShowNotice(DialogKind::Information, "Saved as " + fileName);
  }
}

}  // namespace vestrel
