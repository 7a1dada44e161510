#include "export/Automation.h"

namespace vestrel {
namespace {

NoSpreadsheetAutomation& DefaultServer() {
  static NoSpreadsheetAutomation server;
  return server;
}

AutomationServer* installed = nullptr;

}  // namespace

std::shared_ptr<AutomationObject> NoSpreadsheetAutomation::CreateObject(const std::string&) {
  throw AutomationError("Invalid class string");
}

AutomationServer& Automation() { return installed ? *installed : DefaultServer(); }

void InstallAutomationServer(AutomationServer* server) { installed = server; }

}  // namespace vestrel
