#include "check/CheckRun.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <ostream>
#include <stdexcept>

#include <sys/stat.h>

#include "check/HealthDocuments.h"
#include "check/HealthReport.h"
#include "check/RingReader.h"
#include "directory/D_NW_Errors.h"
#include "directory/D_NW_LoadProblems.h"
#include "directory/D_NW_Session.h"
#include "directory/NETWIN32.h"
#include "directory/calwin32.h"
#include "directory/clxwin32.h"
#include "export/ExportTargets.h"
#include "export/GridWriters.h"
#include "scan/Scans.h"
#include "util/D_Util.h"
#include "util/ReplaceFile.h"
#include "util/UiSeam.h"

namespace vestrel::check {

namespace {

constexpr const char* kProgram = "vestrel-check";

// Why a run stops before it reports; usage problems also get the usage hint.
struct CheckFailure : std::runtime_error {
  CheckFailure(const std::string& message, bool usage) : std::runtime_error(message), usageProblem(usage) {}
  bool usageProblem;
};

// The report was made but cannot be written where it was asked for.
struct OutputFailure : CheckFailure {
  explicit OutputFailure(const std::string& message) : CheckFailure(message, false) {}
};

[[noreturn]] void UsageProblem(const std::string& message) { throw CheckFailure(message, true); }
[[noreturn]] void CheckProblem(const std::string& message) { throw CheckFailure(message, false); }

// Message boxes of the directory layer become lines on the error stream: there is no
// one to click them away. Confirmations answer "no".
class InstalledUi {
 public:
  explicit InstalledUi(std::ostream& err) : ui_(err, std::string(kProgram) + ": ") { InstallUiSeam(&ui_); }
  ~InstalledUi() { InstallUiSeam(nullptr); }
  InstalledUi(const InstalledUi&) = delete;
  InstalledUi& operator=(const InstalledUi&) = delete;

 private:
  StreamUi ui_;
};

class OwnedContext {
 public:
  OwnedContext() {
    const NWRCODE code = DSContextCreate(&handle_);
    if (code != 0) CheckProblem("no directory context can be created: " + ErrorText(code));
  }
  ~OwnedContext() { DSContextFree(handle_); }
  OwnedContext(const OwnedContext&) = delete;
  OwnedContext& operator=(const OwnedContext&) = delete;
  NWDSContextHandle Get() const { return handle_; }

 private:
  NWDSContextHandle handle_ = 0;
};

void RequireReadableFile(const std::string& option, const std::string& path) {
  std::error_code error;
  // A folder opens like a file here and fails only when read.
  if (std::filesystem::is_directory(path, error))
    UsageProblem(Format("cannot read the file \"%s\" of %s: it is a folder", path, option));
  errno = 0;
  std::ifstream file(path, std::ios::binary);
  if (!file)
    UsageProblem(Format("cannot read the file \"%s\" of %s: %s", path, option,
                        errno != 0 ? std::strerror(errno) : "it cannot be opened"));
}

// Connections that name a bind DN and no password of their own get the one of
// --password-file (it wins over an inherited VESTREL_LDAP_PASSWORD); nobody is ever asked.
void ChoosePasswordSource(const CheckOptions& options) {
  if (options.passwordFile.empty()) {
    ClientSetPasswordPrompt({});
    return;
  }
  // The one rule of the client library: a private regular file, its first line.
  RequireReadableFile("--password-file", options.passwordFile);
  std::string password, problem;
  if (!ClientReadPasswordFile(options.passwordFile, password, problem))
    UsageProblem("--password-file: " + problem);
  unsetenv("VESTREL_LDAP_PASSWORD");
  // The file's password is the only one: a refused one is not tried again.
  ClientSetPasswordPrompt([password](const std::string&, const std::string&, const std::string& refusal,
                                     std::string& answer) {
    answer = password;
    return refusal.empty();
  });
}

// Settings the client library reads at its first call; an inherited tree-file setting
// must not override a connections file asked for on the command line.
void ChooseConnections(const CheckOptions& options) {
  if (!options.treeFile.empty()) {
    RequireReadableFile("--tree-file", options.treeFile);
    setenv("VESTREL_TREE_FILE", options.treeFile.c_str(), 1);
  } else if (!options.connectionsFile.empty()) {
    RequireReadableFile("--connections", options.connectionsFile);
    unsetenv("VESTREL_TREE_FILE");
    setenv("VESTREL_CONNECTIONS", options.connectionsFile.c_str(), 1);
  }
}

std::string KnownTrees(const TextList& trees) {
  std::string text;
  for (int i = 0; i < trees.Count(); ++i) text += (i == 0 ? "" : ", ") + trees[i];
  return text.empty() ? "none" : text;
}

// The trees the client could not load, for a message that would otherwise only say that
// a tree is missing: "; not loaded: <problem>; <problem>", or "" when all were loaded.
std::string NotLoadedText(const std::vector<std::string>& problems) {
  std::string text;
  for (const std::string& problem : problems) text += (text.empty() ? "; not loaded: " : "; ") + problem;
  return text;
}

// A tree that cannot be loaded is never replaced by another one: the tree file given, or
// the workstation's preferred tree when no tree is named, must be the one checked.
void RequirePreferredTreeLoaded(const CheckOptions& options) {
  if (!options.tree.empty() && options.treeFile.empty()) return;
  const std::string problem = PreferredTreeLoadProblem();
  if (problem.empty()) return;
  const char* what = options.treeFile.empty() ? "the preferred tree" : "the tree file";
  CheckProblem(Format("%s cannot be loaded: %s", what, problem));
}

// The tree as the main window's tree list names it.
std::string ChosenTree(const CheckOptions& options, const std::vector<std::string>& loadProblems) {
  TextList trees;
  ListTrees(trees);
  if (!options.tree.empty()) {
    const int index = trees.IndexOf(options.tree);
    if (index < 0)
      UsageProblem(Format("unknown tree \"%s\" (connected trees: %s)", options.tree, KnownTrees(trees)) +
                   NotLoadedText(loadProblems));
    return trees[index];
  }
  const std::string preferred = PreferredTreeName();
  if (!preferred.empty()) return preferred;
  if (trees.Empty()) CheckProblem("no directory tree is connected" + NotLoadedText(loadProblems));
  return trees[0];
}

// Sync ages are measured against the directory's own time, read from the server behind
// the tree's connection; the workstation's clock stands in when the server cannot tell.
CheckClock DirectoryClock(const std::string& tree) {
  TextList trees;
  ListTrees(trees);
  const int index = trees.IndexOf(tree);
  nuint32 serverTime = 0;
  if (index >= 0 && ConnServerTime(static_cast<NWCONN_REF>(trees.Objects(index)), &serverTime) == 0)
    return [serverTime] { return static_cast<std::int64_t>(serverTime); };
  return SystemClockSeconds;
}

// What the main window's tree change does: the tree, typeless names, names from [Root].
void UseTree(NWDSContextHandle context, const std::string& tree) {
  NWRCODE code = DSChangeCurrentTree(context, tree, false);
  if (code != 0) CheckProblem(Format("the tree %s cannot be reached: DSChangeCurrentTree returned error %s", tree,
                                     ErrorText(code)));
  ModifyContextFlags(context, '+', DCV_TYPELESS_NAMES);
  code = SetNameContext(context, "[Root]");
  if (code != 0) CheckProblem(Format("the tree %s cannot be reached: SetNameContext returned error %s", tree,
                                     ErrorText(code)));
}

void OpenSession(const std::vector<std::string>& loadProblems) {
  const NWRCODE code = OpenClientConnection();
  // Not a single connection: the load problems say why (a server that cannot be reached).
  if (code == ERR_NO_MORE_CONNECTIONS && !loadProblems.empty())
    CheckProblem("no directory tree is connected" + NotLoadedText(loadProblems));
  if (code != 0) CheckProblem("the directory client cannot connect: " + ErrorText(code) + NotLoadedText(loadProblems));
}

// Trees that could not be loaded but were not asked for are worth a line, not a failure.
void NoteLoadProblems(const std::vector<std::string>& loadProblems, std::ostream& err) {
  for (const std::string& problem : loadProblems) err << kProgram << ": " << problem << '\n';
}

void WriteDocument(const CheckOptions& options, const std::string& document, std::ostream& out) {
  if (options.output.empty()) {
    out << document;
    return;
  }
  const FileWriteResult written = ReplaceFileContent(options.output, document);
  if (!written) throw OutputFailure(Format("cannot write the file \"%s\": %s", options.output, written.problem));
}

// What the client said of the last failure on the tree's link, as " (<words>)" ("" when nothing).
std::string LinkWords(const std::string& tree) {
  const std::string words = TreeLinkFailure(tree);
  return words.empty() ? "" : " (" + words + ")";
}

// The run's time limit. The client ends every wait for a server at it; a run that reached
// it says so, naming what it was reading, whatever failed because of it.
class TimeLimit {
 public:
  explicit TimeLimit(std::int64_t seconds)
      : seconds_(seconds), start_(Clock::now()), end_(start_ + std::chrono::seconds(seconds)) {
    ClientSetTimeLimit(std::chrono::seconds(seconds));
  }
  ~TimeLimit() { ClientSetTimeLimit(std::chrono::milliseconds(0)); }
  TimeLimit(const TimeLimit&) = delete;
  TimeLimit& operator=(const TimeLimit&) = delete;

  void Reading(const std::string& what) { reading_ = what; }
  double Elapsed() const { return std::chrono::duration<double>(Clock::now() - start_).count(); }
  void FailWhenReached() const {
    if (Clock::now() >= end_)
      CheckProblem(Format("the check did not finish within %s (--timeout); it was reading %s", DurationText(seconds_),
                          reading_));
  }

 private:
  using Clock = std::chrono::steady_clock;
  std::int64_t seconds_;
  Clock::time_point start_;
  Clock::time_point end_;
  std::string reading_ = "the workstation's connections";
};

int RunScan(const CheckOptions& options, const std::string& tree, NWDSContextHandle context, TimeLimit& limit,
            std::ostream& out) {
  // The main window's result grids start with one fixed row and column.
  StringGrid grid(5, 2, 1, 1);
  const ScanProgress progress = [&](int, int, const std::string& name) {
    if (!name.empty()) limit.Reading(name);
  };
  const ScanResult result = options.mode == CheckMode::Servers ? ScanServers(context, grid, progress)
                                                               : ScanPartitions(context, grid, progress);
  if (!result.started) CheckProblem("another scan is running");
  limit.FailWhenReached();
  // The window shows what a failed search found; a report of nothing would pass for a tree without servers.
  if (result.searchCode != 0)
    CheckProblem(Format("the search of the tree %s failed: %s", tree, ErrorText(result.searchCode)) + LinkWords(tree));
  // Empty cells of reads the link lost would pass for values the tree does not have.
  if (result.lost.count > 0)
    CheckProblem(Format("%d %s of the tree %s failed, the first for %s: %s", result.lost.count,
                        result.lost.count == 1 ? "read" : "reads", tree, result.lost.firstObject,
                        ErrorText(result.lost.firstCode)) +
                 LinkWords(tree));
  WriteDocument(options, GridDocument(grid, options.format), out);
  return 0;
}

bool WritesHealthDocument(const CheckOptions& options) {
  return options.mode == CheckMode::Health && options.healthFormat != HealthFormat::Text;
}

// The health check in the form asked for; returns its exit code.
int WriteHealth(const CheckOptions& options, const HealthCheck& check, std::ostream& out) {
  switch (options.healthFormat) {
    case HealthFormat::Json: WriteDocument(options, HealthJson(check), out); break;
    case HealthFormat::Prometheus: WriteDocument(options, HealthMetrics(check), out); break;
    default:
      if (!(options.quiet && StatusOf(check) == Severity::Ok)) out << HealthReportText(check.tree, check.result);
  }
  return ExitCodeOf(StatusOf(check));
}

// A health check's facts before its rings are read: the tree, the time and the thresholds.
HealthCheck HealthCheckOf(const CheckOptions& options, const std::string& tree, std::int64_t now) {
  HealthCheck check;
  check.tree = tree;
  check.checkedAt = now;
  check.limits = Thresholds{options.warnAge, options.critAge};
  return check;
}

int RunHealth(const CheckOptions& options, const std::string& treeName, NWDSContextHandle context,
              const CheckClock& clock, TimeLimit& limit, std::ostream& out) {
  TreeRings tree = ReadTreeRings(context, [&](const std::string& partition) { limit.Reading(partition); });
  limit.FailWhenReached();
  if (tree.listCode != 0)
    CheckProblem(Format("the partitions of the tree %s cannot be listed: %s", treeName, ErrorText(tree.listCode)));
  HealthCheck check = HealthCheckOf(options, treeName, clock());
  check.rings = std::move(tree.rings);
  check.result = EvaluateHealth(check.rings, check.limits, check.checkedAt);
  check.durationSeconds = limit.Elapsed();
  return WriteHealth(options, check, out);
}

// tree hears the name of the tree once it is chosen.
int Report(const CheckOptions& options, const CheckClock& clock, TimeLimit& limit, std::string& tree,
           std::ostream& out, std::ostream& err) {
  try {
    ChooseConnections(options);
    ChoosePasswordSource(options);
    RequirePreferredTreeLoaded(options);
    const std::vector<std::string> loadProblems = TreeLoadProblems();
    OpenSession(loadProblems);
    OwnedContext context;
    tree = ChosenTree(options, loadProblems);
    NoteLoadProblems(loadProblems, err);
    limit.Reading("the tree " + tree);
    UseTree(context.Get(), tree);
    return options.mode == CheckMode::Health
               ? RunHealth(options, tree, context.Get(), clock ? clock : DirectoryClock(tree), limit, out)
               : RunScan(options, tree, context.Get(), limit, out);
  } catch (const CheckFailure&) {
    limit.FailWhenReached();  // the limit is why, whatever failed
    throw;
  }
}

int Fail(const std::string& message, bool usage, bool health, std::ostream& out, std::ostream& err) {
  // A monitoring system shows standard output: the reason goes there as its status line.
  if (health) out << UnknownLine(message) << '\n';
  err << kProgram << ": " << message << '\n';
  if (usage) err << "Try '" << kProgram << " --help' for more information.\n";
  err.flush();
  return kExitUnknown;
}

// A check that failed still gets its document, so a collector serves UNKNOWN rather than
// the last run's values; the reason also goes to the error stream.
int FailWithDocument(const CheckOptions& options, const std::string& message, bool usage, HealthCheck check,
                     std::ostream& out, std::ostream& err) {
  check.failure = message;
  try {
    WriteHealth(options, check, out);
  } catch (const OutputFailure& failure) {
    err << kProgram << ": " << failure.what() << '\n';
  }
  return Fail(message, usage, false, out, err);
}

// Whatever went to standard output must have reached it: a report lost on a full disk or
// a closed pipe is no report, whatever the check found.
int Delivered(int code, std::ostream& out, std::ostream& err) {
  out.flush();
  if (out) return code;
  err << kProgram << ": standard output cannot be written: the report is lost\n";
  err.flush();
  return kExitUnknown;
}

}  // namespace

std::int64_t SystemClockSeconds() { return static_cast<std::int64_t>(std::time(nullptr)); }

std::string GridDocument(const StringGrid& grid, GridFormat format) {
  switch (format) {
    case GridFormat::Html: return WithCrLfLines(GridToHtml(grid));
    case GridFormat::Xml: return WithCrLfLines(GridToXml(grid));
    case GridFormat::Csv: return WithCrLfLines(GridToText(grid, ",", ""));
    default: return WithCrLfLines(GridToText(grid, "\t", ""));
  }
}

int RunCheck(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err, const CheckClock& clock) {
  const ParsedArguments parsed = ParseArguments(arguments);
  const CheckOptions& options = parsed.options;
  const bool health = parsed.healthAsked;
  if (!parsed.Ok()) return Delivered(Fail(parsed.error, true, health, out, err), out, err);
  if (options.help) {
    out << HelpText();
    return Delivered(0, out, err);
  }
  if (options.version) {
    out << VersionText();
    return Delivered(0, out, err);
  }
  InstalledUi ui(err);
  TimeLimit limit(options.timeout);
  std::string tree = options.tree;
  const auto failed = [&](const std::string& message, bool usage) {
    if (!WritesHealthDocument(options)) return Fail(message, usage, health, out, err);
    HealthCheck check = HealthCheckOf(options, tree, clock ? clock() : SystemClockSeconds());
    check.durationSeconds = limit.Elapsed();
    return FailWithDocument(options, message, usage, std::move(check), out, err);
  };
  int code = kExitUnknown;
  try {
    code = Report(options, clock, limit, tree, out, err);
  } catch (const OutputFailure& failure) {
    code = Fail(failure.what(), false, false, out, err);  // a document of the failure could not be written either
  } catch (const CheckFailure& failure) {
    code = failed(failure.what(), failure.usageProblem);
  } catch (const std::exception& failure) {
    code = failed(std::string("unexpected failure: ") + failure.what(), false);
  } catch (...) {
    code = failed("unexpected failure", false);
  }
  return Delivered(code, out, err);
}

}  // namespace vestrel::check
