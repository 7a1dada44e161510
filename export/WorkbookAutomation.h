// The spreadsheet applications of this desktop behind the automation seam. Excel's and
// QuattroPro's calls are answered as those applications would, and their paste makes a
// real workbook: the grid on the clipboard becomes an .xlsx file of one sheet, named after
// the export, in the user's cache folder ($XDG_CACHE_HOME/vestrel, else ~/.cache/vestrel),
// which the desktop's default application then opens (xdg-open). A workbook that cannot
// be written makes the paste fail with a message saying why; one that no application
// opened, with a message saying where it was saved. The grid stays on the clipboard.
#pragma once

#include <memory>
#include <string>

#include "export/Automation.h"

namespace vestrel {

class WorkbookAutomation final : public AutomationServer {
 public:
  // How long a paste waits for the opener to say it failed. Openers that hand the file to
  // a running application end at once; one still busy after this is taken as opening it.
  static constexpr int kOpenerPatienceMs = 3000;

  explicit WorkbookAutomation(int openerPatienceMs = kOpenerPatienceMs) : openerPatienceMs_(openerPatienceMs) {}

  void InitializeThread() override {}
  // "Excel.Application" or "QuattroPro.PerfectScript"; any other class is unknown.
  std::shared_ptr<AutomationObject> CreateObject(const std::string& className) override;
  void SetDocumentName(const std::string& name) override { documentName_ = name; }

 private:
  int openerPatienceMs_;
  std::string documentName_;
};

// The folder the workbooks are written to; empty when the user has no home folder.
std::string WorkbookFolder();

}  // namespace vestrel
