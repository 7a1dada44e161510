#include "export/WorkbookAutomation.h"

#include <cerrno>
#include <cstring>
#include <functional>
#include <utility>
#include <vector>

#include "export/Clipboard.h"
#include "export/D_Win.h"
#include "export/XlsxWorkbook.h"
#include "util/D_Util.h"

namespace vestrel {
namespace {

using ObjectPtr = std::shared_ptr<AutomationObject>;
using MemberAction = std::function<ObjectPtr(const AutomationArgs&)>;

// An object whose members are looked up by name at run time, without regard to case, as
// automation names are.
class ScriptedObject final : public AutomationObject {
 public:
  explicit ScriptedObject(std::vector<std::pair<std::string, MemberAction>> members) : members_(std::move(members)) {}

  ObjectPtr Invoke(const std::string& name, InvokeKind /*kind*/, const AutomationArgs& args) override {
    for (const auto& [member, action] : members_) {
      if (EqualsNoCase(member, name)) return action(args);
    }
    throw AutomationError("Unknown name " + name);
  }

 private:
  std::vector<std::pair<std::string, MemberAction>> members_;
};

ObjectPtr Object(std::vector<std::pair<std::string, MemberAction>> members) {
  return std::make_shared<ScriptedObject>(std::move(members));
}

// A member that is accepted and has nothing to do here: the workbook is laid out when it
// is written (selections, fitted widths and heights, fonts).
ObjectPtr Accept(const AutomationArgs&) { return nullptr; }

// One application object's document: made new, then the clipboard pasted into it.
class Spreadsheet {
 public:
  Spreadsheet(std::string documentName, int openerPatienceMs)
      : documentName_(std::move(documentName)), openerPatienceMs_(openerPatienceMs) {}

  void NewDocument() { documentOpen_ = true; }

  void PasteClipboard() const {
    if (!documentOpen_) throw AutomationError("There is no new workbook to paste into");
    Open(WriteWorkbook());
  }

 private:
  std::string WriteWorkbook() const {
    const std::string folder = WorkbookFolder();
    if (folder.empty()) throw AutomationError("There is no cache folder for the workbook: HOME is not set");
    const std::string sheet = SheetNameFor(documentName_);
    try {
      return WriteNewWorkbook(folder, WorkbookStemFor(sheet), sheet, CellsOfSeparatedText(Clipboard().Text()));
    } catch (const WorkbookError& failure) {
      throw AutomationError(failure.what());
    }
  }

  void Open(const std::string& path) const {
    const ProcessOutcome outcome = StartAndAwait(DesktopOpen(path), openerPatienceMs_);
    if (outcome.startError == ENOENT) NotOpened(path, "xdg-open was not found");
    if (outcome.startError != 0) NotOpened(path, Format("xdg-open could not start: %s", std::strerror(outcome.startError)));
    if (outcome.finished && outcome.exitStatus != 0)
      NotOpened(path, Format("xdg-open ended with status %d", outcome.exitStatus));
  }

  // The workbook is there, to be opened by hand: the message says so and where.
  [[noreturn]] static void NotOpened(const std::string& path, const std::string& why) {
    throw AutomationError(Format("The workbook was saved as %s, but no application could open it: %s", path, why));
  }

  std::string documentName_;
  int openerPatienceMs_;
  bool documentOpen_ = false;
};

ObjectPtr ExcelRange() {
  const MemberAction range = [](const AutomationArgs&) { return ExcelRange(); };
  return Object({{"Select", Accept}, {"AutoFit", Accept}, {"Columns", range}, {"Rows", range}});
}

ObjectPtr ExcelApplication(const std::shared_ptr<Spreadsheet>& spreadsheet) {
  const MemberAction range = [](const AutomationArgs&) { return ExcelRange(); };
  const MemberAction workbooks = [spreadsheet](const AutomationArgs&) {
    return Object({{"Add", [spreadsheet](const AutomationArgs&) {
                      spreadsheet->NewDocument();
                      return ObjectPtr();
                    }}});
  };
  const MemberAction activeSheet = [spreadsheet](const AutomationArgs&) {
    return Object({{"Paste", [spreadsheet](const AutomationArgs&) {
                      spreadsheet->PasteClipboard();
                      return ObjectPtr();
                    }}});
  };
  return Object({{"Visible", Accept},
                 {"Workbooks", workbooks},
                 {"ActiveSheet", activeSheet},
                 {"Cells", range},
                 {"Selection", range}});
}

ObjectPtr QuattroProApplication(const std::shared_ptr<Spreadsheet>& spreadsheet) {
  return Object({{"FileNew",
                  [spreadsheet](const AutomationArgs&) {
                    spreadsheet->NewDocument();
                    return ObjectPtr();
                  }},
                 {"SelectBlock", Accept},
                 {"EditPaste",
                  [spreadsheet](const AutomationArgs&) {
                    spreadsheet->PasteClipboard();
                    return ObjectPtr();
                  }},
                 {"Setproperty", Accept}});
}

}  // namespace

std::string WorkbookFolder() {
  const std::string cache = UserCacheFolder();
  return cache.empty() ? std::string() : TrimRightChars(cache, "/") + "/vestrel";
}

std::shared_ptr<AutomationObject> WorkbookAutomation::CreateObject(const std::string& className) {
  auto spreadsheet = std::make_shared<Spreadsheet>(documentName_, openerPatienceMs_);
  if (EqualsNoCase(className, "Excel.Application")) return ExcelApplication(spreadsheet);
  if (EqualsNoCase(className, "QuattroPro.PerfectScript")) return QuattroProApplication(spreadsheet);
  throw AutomationError("Invalid class string");
}

}  // namespace vestrel
