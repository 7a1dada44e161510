#include "export/ExportTargets.h"

#include <array>
#include <exception>
#include <memory>
#include <string_view>

#include "export/Automation.h"
#include "export/Clipboard.h"
#include "export/GridWriters.h"
#include "util/D_Util.h"
#include "util/ReplaceFile.h"

namespace vestrel {
namespace {

bool IsFileKind(TExportKind kind) { return kind == ekHtml || kind == ekXml || kind == ekText; }

std::string DocumentOf(TExportKind kind, const StringGrid& grid, const std::string& separator,
                       const std::string& rowTrailer) {
  switch (kind) {
    case ekHtml: return GridToHtml(grid);
    case ekXml: return GridToXml(grid);
    default: return GridToText(grid, separator, rowTrailer);
  }
}

ExportResult Refuse(const std::string& message) {
  ShowNotice(DialogKind::Error, message);
  return ExportResult::NothingDone;
}

std::shared_ptr<AutomationObject> Required(std::shared_ptr<AutomationObject> object, const std::string& member) {
  if (!object) throw AutomationError(member + " gave no object");
  return object;
}

std::shared_ptr<AutomationObject> Get(AutomationObject& object, const std::string& member) {
  return Required(object.Invoke(member, InvokeKind::PropertyGet), member);
}

void Call(AutomationObject& object, const std::string& member, const AutomationArgs& args = {}) {
  object.Invoke(member, InvokeKind::Method, args);
}

}  // namespace

TExportKind ExportKindOf(const std::string& typeWord) {
  static constexpr std::array<std::string_view, 2> htmlWords{"HTML", "HTM"};
  static constexpr std::array<std::string_view, 1> xmlWords{"XML"};
  static constexpr std::array<std::string_view, 4> textWords{"TXT", "DOC", "ASCII", "CSV"};
  static constexpr std::array<std::string_view, 2> quattroWords{"QP", "WB3"};
  static constexpr std::array<std::string_view, 2> excelWords{"XLS", "EXCEL"};
  static constexpr std::array<std::string_view, 1> clipboardWords{"CLIPBOARD"};
  const std::string word = UpperCaseAscii(typeWord);
  if (TextInList(word, htmlWords, true)) return ekHtml;
  if (TextInList(word, xmlWords, true)) return ekXml;
  if (TextInList(word, textWords, true)) return ekText;
  if (TextInList(word, quattroWords, true)) return ekQuattroPro;
  if (TextInList(word, excelWords, true)) return ekExcel;
  if (TextInList(word, clipboardWords, true)) return ekClipboard;
  return ekNone;
}

std::string FileExtension(const std::string& fileName) {
  const std::size_t dot = fileName.rfind('.');
  const std::size_t slash = fileName.rfind('/');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
  return fileName.substr(dot);
}

bool IsValidTargetName(const std::string& fileName) {
  if (fileName.size() < 3) return false;
  // Only plain names in the current folder: nothing may be written elsewhere.
  return fileName.find('/') == std::string::npos && fileName.find('\0') == std::string::npos &&
         fileName != "." && fileName != "..";
}

std::string WithCrLfLines(const std::string& document) {
  std::string text;
  text.reserve(document.size() + document.size() / 16 + 2);
  const std::size_t size = document.size();
  for (std::size_t i = 0; i < size; ++i) {
    const char c = document[i];
    if (c == '\r' || c == '\n') {
      text += "\r\n";
      if (c == '\r' && i + 1 < size && document[i + 1] == '\n') ++i;
    } else {
      text += c;
    }
  }
  // The last line gets its break too.
  if (!text.empty() && text.back() != '\n') text += "\r\n";
  return text;
}

void CopyGridToClipboard(const StringGrid& grid, const std::string& separator, const std::string& rowTrailer) {
  Clipboard().SetText(GridToText(grid, separator, rowTrailer));
}

void PasteIntoExcel() {
  Automation().InitializeThread();
  try {
    // The references are released when they go out of scope; the application stays open.
    const std::shared_ptr<AutomationObject> excel = Required(Automation().CreateObject("Excel.Application"), "Excel.Application");
    excel->Invoke("Visible", InvokeKind::PropertyPut, {true});
    Call(*Get(*excel, "Workbooks"), "Add");
    Call(*Get(*excel, "ActiveSheet"), "Paste");
    Call(*Get(*excel, "Cells"), "Select");
    Call(*Get(*Get(*excel, "Selection"), "Columns"), "AutoFit");
    Call(*Get(*Get(*excel, "Selection"), "Rows"), "AutoFit");
  } catch (const std::exception& failure) {
    ShowNotice(DialogKind::Plain, Format("Error saving to Excel (%s) - Results are in clipboard", failure.what()));
  }
}

void PasteIntoQuattroPro() {
  Automation().InitializeThread();
  try {
    const std::shared_ptr<AutomationObject> quattro =
        Required(Automation().CreateObject("QuattroPro.PerfectScript"), "QuattroPro.PerfectScript");
    Call(*quattro, "FileNew");
    Call(*quattro, "SelectBlock", {std::string("A:A1")});
    Call(*quattro, "EditPaste", {OmittedArg{}});
    // Formatting is a nicety: a failure skips the rest of it and nothing more.
    try {
      Call(*quattro, "SelectBlock", {std::string("A:")});
      Call(*quattro, "Setproperty", {std::string("Font.Point_Size"), std::string("8")});
      Call(*quattro, "Setproperty", {std::string("Column_Width"), std::string("Auto Width;;1")});
      Call(*quattro, "SelectBlock", {std::string("A:A1")});
    } catch (const std::exception&) {
    }
  } catch (const std::exception& failure) {
    ShowNotice(DialogKind::Plain, Format("Error saving to QP (%s) - Results are in clipboard", failure.what()));
  }
}

ExportResult ExportGrid(const StringGrid* grid, const std::string& typeWord, const std::string& fileName,
                        const std::string& separator, const std::string& rowTrailer) {
  if (!grid) return ExportResult::NothingDone;
  const std::string word = TrimLeftChars(typeWord.empty() ? FileExtension(fileName) : typeWord, " .");
  const TExportKind kind = ExportKindOf(word);
  if (kind == ekNone) return Refuse("Invalid target");
  if (IsFileKind(kind)) {
    if (!IsValidTargetName(fileName)) return Refuse("Invalid target path");
    const std::string content = WithCrLfLines(DocumentOf(kind, *grid, separator, rowTrailer));
    if (!ReplaceFileContent(fileName, content)) return Refuse(Format("Cannot create file %s", fileName));
    return ExportResult::FileWritten;
  }
  CopyGridToClipboard(*grid, separator, rowTrailer);
  if (kind == ekExcel || kind == ekQuattroPro) Automation().SetDocumentName(fileName);
  if (kind == ekExcel) PasteIntoExcel();
  if (kind == ekQuattroPro) PasteIntoQuattroPro();
  return ExportResult::CopiedToClipboard;
}

ExportResult ExportGridToFile(const StringGrid& grid, const std::string& typeWord, const std::string& fileName) {
  const std::string separator = EqualsNoCase(FileExtension(fileName), ".csv") ? "," : "\t";
  return ExportGrid(&grid, typeWord, fileName, separator, "");
}

}  // namespace vestrel
