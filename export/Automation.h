// The automation seam: spreadsheet applications reached by class name, their members
// invoked by name at run time. Every failure is an AutomationError carrying the message
// text the user sees. The default server has no spreadsheet at all; the window installs
// one that makes a workbook for the desktop's spreadsheet application (WorkbookAutomation).
#pragma once

#include <memory>
#include <stdexcept>
#include <string>
#include <variant>
#include <vector>

namespace vestrel {

// The marker of an optional parameter that is not given.
struct OmittedArg {
  bool operator==(const OmittedArg&) const = default;
};
using AutomationArg = std::variant<OmittedArg, bool, std::string>;
using AutomationArgs = std::vector<AutomationArg>;

// How a member is invoked: as a method, as a property read (its result is used further)
// or as a property write (the one argument is the new value).
enum class InvokeKind { Method, PropertyGet, PropertyPut };

class AutomationError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class AutomationObject {
 public:
  virtual ~AutomationObject() = default;
  // Invokes the member called name. Returns the resulting object where there is one
  // (nullptr otherwise); throws AutomationError on failure.
  virtual std::shared_ptr<AutomationObject> Invoke(const std::string& name, InvokeKind kind,
                                                   const AutomationArgs& args = {}) = 0;
};

class AutomationServer {
 public:
  virtual ~AutomationServer() = default;
  // Prepares the calling thread for automation; callers ignore how it went.
  virtual void InitializeThread() = 0;
  // A new object of the named class ("Excel.Application"); throws AutomationError on failure.
  // Dropping the last reference releases it; the application itself keeps running.
  virtual std::shared_ptr<AutomationObject> CreateObject(const std::string& className) = 0;
  // The export the next calls serve, by its file name ("ACME_TREE_Servers.XLS"), for a
  // server that names what it makes; the calls themselves carry no name.
  virtual void SetDocumentName(const std::string& /*name*/) {}
};

// A machine without spreadsheet applications: every class is unknown.
class NoSpreadsheetAutomation final : public AutomationServer {
 public:
  void InitializeThread() override {}
  std::shared_ptr<AutomationObject> CreateObject(const std::string& className) override;
};

// The server in force; never null.
AutomationServer& Automation();
// Installs a server (not owned); nullptr restores NoSpreadsheetAutomation.
void InstallAutomationServer(AutomationServer* server);

}  // namespace vestrel
