#include "check/CheckOptions.h"

#include <cctype>
#include <functional>
#include <map>

#include "util/BuildInfo.h"

namespace vestrel::check {

namespace {

constexpr const char* kProgram = "vestrel-check";
constexpr std::int64_t kMaxTimeout = 24 * 3600;

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

std::optional<GridFormat> GridFormatNamed(const std::string& name) {
  static const std::map<std::string, GridFormat> formats = {
      {"txt", GridFormat::Text}, {"html", GridFormat::Html}, {"xml", GridFormat::Xml}, {"csv", GridFormat::Csv}};
  const auto found = formats.find(Lower(name));
  if (found == formats.end()) return std::nullopt;
  return found->second;
}

std::optional<HealthFormat> HealthFormatNamed(const std::string& name) {
  static const std::map<std::string, HealthFormat> formats = {{"json", HealthFormat::Json},
                                                              {"prometheus", HealthFormat::Prometheus}};
  const auto found = formats.find(Lower(name));
  if (found == formats.end()) return std::nullopt;
  return found->second;
}

const char* ModeOption(CheckMode mode) {
  switch (mode) {
    case CheckMode::Servers: return "--servers";
    case CheckMode::Partitions: return "--partitions";
    case CheckMode::Health: return "--health";
    default: return "";
  }
}

// Walks the arguments once; the first problem found is kept, later ones are not looked for.
class ArgumentParser {
 public:
  explicit ArgumentParser(const std::vector<std::string>& arguments) : arguments_(arguments) {}

  ParsedArguments Run() {
    for (index_ = 0; index_ < arguments_.size() && result_.Ok(); ++index_) Take(arguments_[index_]);
    CheckCombinations();
    // Asking for help or the version is answered even when the rest is wrong.
    if (ArgumentGiven("--help")) result_.options.help = true;
    if (ArgumentGiven("--version")) result_.options.version = true;
    result_.healthAsked = ArgumentGiven("--health");
    if (result_.options.help || result_.options.version) result_.error.clear();
    return result_;
  }

 private:
  void Fail(const std::string& message) {
    if (result_.Ok()) result_.error = message;
  }

  void Take(const std::string& argument) {
    std::string name = argument;
    std::optional<std::string> inlineValue;
    if (argument.rfind("--", 0) == 0) {
      const std::size_t equals = argument.find('=');
      if (equals != std::string::npos) {
        name = argument.substr(0, equals);
        inlineValue = argument.substr(equals + 1);
      }
    }
    CheckOptions& o = result_.options;
    if (name == "--help") return Flag(name, inlineValue, o.help);
    if (name == "--version") return Flag(name, inlineValue, o.version);
    if (name == "--quiet") return Flag(name, inlineValue, o.quiet);
    if (name == "--servers") return Mode(name, inlineValue, CheckMode::Servers);
    if (name == "--partitions") return Mode(name, inlineValue, CheckMode::Partitions);
    if (name == "--health") return Mode(name, inlineValue, CheckMode::Health);
    if (name == "--tree") return Value(name, inlineValue, [&](const std::string& v) { o.tree = v; });
    if (name == "--connections") return Value(name, inlineValue, [&](const std::string& v) { o.connectionsFile = v; });
    if (name == "--tree-file") return Value(name, inlineValue, [&](const std::string& v) { o.treeFile = v; });
    if (name == "--password-file") return Value(name, inlineValue, [&](const std::string& v) { o.passwordFile = v; });
    if (name == "--output") return Value(name, inlineValue, [&](const std::string& v) { o.output = v; });
    if (name == "--format") return Value(name, inlineValue, [&](const std::string& v) { SetFormat(v); });
    if (name == "--warn-age") return Value(name, inlineValue, [&](const std::string& v) { SetAge(name, v, o.warnAge); });
    if (name == "--crit-age") return Value(name, inlineValue, [&](const std::string& v) { SetAge(name, v, o.critAge); });
    if (name == "--timeout") return Value(name, inlineValue, [&](const std::string& v) { SetTimeout(v); });
    if (argument.size() > 1 && argument[0] == '-') return Fail("unknown option \"" + argument + "\"");
    Fail("unexpected argument \"" + argument + "\"");
  }

  void Flag(const std::string& name, const std::optional<std::string>& inlineValue, bool& flag) {
    if (inlineValue) return Fail("option " + name + " takes no value");
    flag = true;
  }

  void Mode(const std::string& name, const std::optional<std::string>& inlineValue, CheckMode mode) {
    if (inlineValue) return Fail("option " + name + " takes no value");
    CheckMode& current = result_.options.mode;
    if (current != CheckMode::None && current != mode)
      return Fail(std::string("choose one of --servers, --partitions and --health, not ") + ModeOption(current) +
                  " and " + name);
    current = mode;
  }

  void Value(const std::string& name, const std::optional<std::string>& inlineValue,
             const std::function<void(const std::string&)>& apply) {
    if (inlineValue) return apply(*inlineValue);
    if (index_ + 1 >= arguments_.size()) return Fail("option " + name + " needs a value");
    apply(arguments_[++index_]);
  }

  // Which formats fit depends on the mode, which may come later on the command line.
  void SetFormat(const std::string& value) {
    result_.options.formatName = value;
    result_.options.formatGiven = true;
  }

  void ChooseFormat() {
    CheckOptions& o = result_.options;
    if (!o.formatGiven) return;
    const std::string& name = o.formatName;
    const std::optional<GridFormat> grid = GridFormatNamed(name);
    const std::optional<HealthFormat> health = HealthFormatNamed(name);
    if (o.mode != CheckMode::Health) {
      if (grid) o.format = *grid;
      else if (health)
        Fail("--format " + name + " applies to --health; with --servers and --partitions use txt, html, xml or csv");
      else
        Fail("unknown format \"" + name + "\" (use txt, html, xml or csv)");
      return;
    }
    if (health) o.healthFormat = *health;
    else if (grid)
      Fail("--format " + name + " applies to --servers and --partitions; with --health use json or prometheus");
    else
      Fail("unknown format \"" + name + "\" for --health (use json or prometheus)");
  }

  void SetAge(const std::string& name, const std::string& value, std::int64_t& age) {
    const std::optional<std::int64_t> seconds = ParseDuration(value);
    if (!seconds)
      return Fail("bad duration \"" + value + "\" for " + name + " (use seconds or a number with s, m, h or d)");
    age = *seconds;
    result_.options.ageGiven = true;
  }

  void SetTimeout(const std::string& value) {
    const std::optional<std::int64_t> seconds = ParseDuration(value);
    if (!seconds || *seconds == 0 || *seconds > kMaxTimeout)
      return Fail("bad time limit \"" + value + "\" for --timeout (use seconds, or a number with s, m or h, up to 24h)");
    result_.options.timeout = *seconds;
  }

  void CheckCombinations() {
    const CheckOptions& o = result_.options;
    if (!result_.Ok()) return;
    if (o.mode == CheckMode::None) return Fail("choose one of --servers, --partitions and --health");
    if (!o.connectionsFile.empty() && !o.treeFile.empty()) return Fail("use --connections or --tree-file, not both");
    if (o.tree.empty() && ArgumentGiven("--tree")) return Fail("option --tree needs a tree name");
    if (o.connectionsFile == "" && ArgumentGiven("--connections")) return Fail("option --connections needs a file name");
    if (o.treeFile == "" && ArgumentGiven("--tree-file")) return Fail("option --tree-file needs a file name");
    if (o.passwordFile == "" && ArgumentGiven("--password-file"))
      return Fail("option --password-file needs a file name");
    if (o.output == "" && ArgumentGiven("--output")) return Fail("option --output needs a file name");
    ChooseFormat();
    if (!result_.Ok()) return;
    const bool healthText = o.mode == CheckMode::Health && o.healthFormat == HealthFormat::Text;
    if (healthText && !o.output.empty())
      return Fail("--output applies to --health with --format json or prometheus only (the status text goes to "
                  "standard output)");
    if (o.mode == CheckMode::Health && !healthText && o.quiet)
      return Fail("--quiet applies to the status text of --health, not to --format json or prometheus");
    if (o.mode != CheckMode::Health && o.ageGiven) return Fail("--warn-age and --crit-age apply to --health only");
    if (o.warnAge > o.critAge)
      return Fail("--warn-age " + DurationText(o.warnAge) + " is longer than --crit-age " + DurationText(o.critAge) +
                  " (a warning must come before the critical state)");
  }

  bool ArgumentGiven(const std::string& name) const {
    for (const std::string& argument : arguments_)
      if (argument == name || argument.rfind(name + "=", 0) == 0) return true;
    return false;
  }

  const std::vector<std::string>& arguments_;
  std::size_t index_ = 0;
  ParsedArguments result_;
};

}  // namespace

std::optional<std::int64_t> ParseDuration(const std::string& text) {
  std::size_t digits = 0;
  while (digits < text.size() && std::isdigit(static_cast<unsigned char>(text[digits]))) ++digits;
  if (digits == 0 || text.size() > digits + 1) return std::nullopt;
  std::int64_t unit = 1;
  if (digits < text.size()) {
    switch (std::tolower(static_cast<unsigned char>(text[digits]))) {
      case 's': unit = 1; break;
      case 'm': unit = 60; break;
      case 'h': unit = 3600; break;
      case 'd': unit = 86400; break;
      default: return std::nullopt;
    }
  }
  std::int64_t value = 0;
  for (std::size_t i = 0; i < digits; ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > kMaxDuration) return std::nullopt;  // also keeps the product below from overflowing
  }
  if (value * unit > kMaxDuration) return std::nullopt;
  return value * unit;
}

std::string DurationText(std::int64_t seconds) {
  if (seconds < 0) seconds = 0;
  struct Unit {
    std::int64_t size;
    const char* suffix;
  };
  static constexpr Unit units[] = {{86400, "d"}, {3600, "h"}, {60, "m"}, {1, "s"}};
  std::string text;
  int parts = 0;
  for (const Unit& unit : units) {
    const std::int64_t count = seconds / unit.size;
    // Once a part is written, the next unit follows even when it is zero ("1d 0h").
    if (count == 0 && parts == 0) continue;
    if (!text.empty()) text += ' ';
    text += std::to_string(count) + unit.suffix;
    seconds -= count * unit.size;
    if (++parts == 2 || seconds == 0) break;
  }
  return text.empty() ? "0s" : text;
}

ParsedArguments ParseArguments(const std::vector<std::string>& arguments) { return ArgumentParser(arguments).Run(); }

std::string UsageText() {
  return std::string("usage: ") + kProgram +
         " [--tree NAME] [--connections FILE | --tree-file FILE] [--password-file FILE]\n"
         "       (--servers | --partitions | --health) [--format FORMAT] [--output FILE]\n"
         "       [--warn-age DURATION] [--crit-age DURATION] [--timeout SECONDS] [--quiet]\n"
         "       [--help] [--version]\n";
}

std::string HelpText() {
  return UsageText() + R"(
Runs the server scan, the partition scan or a health check of the replica rings of a
directory tree without any window, for cron jobs and monitoring systems.

The directory is reached as the main window reaches it: through the client library and
the workstation's connections (the connections file named by VESTREL_CONNECTIONS, else
~/.config/vestrel/connections.json, else the demo trees), with typeless names below [Root].
A connection may name a tree file or a live directory's LDAP server; every mode works on
either, with the same exit codes.

Choosing the tree:
  --tree NAME         the tree to report on (default: the workstation's preferred tree)
  --connections FILE  use this connections file instead of the workstation's
  --tree-file FILE    connect this one tree file only (it becomes the preferred tree)
  --password-file FILE
                      the password of LDAP connections that name a "bindDn" but no
                      "passwordFile" of their own, in place of VESTREL_LDAP_PASSWORD; the
                      file must be readable by its owner only (chmod 600). vestrel-check
                      never asks for a password: without one such a tree is UNKNOWN

What to report (exactly one):
  --servers           the server scan: every NCP server with its context, version,
                      DS revision and network addresses, one row per server in name order
  --partitions        the partition scan: every partition with its replicas, status,
                      vectors and the errors its replicas report
  --health            check every partition's replica ring and print one summary line
                      and one line per finding (for Nagios, Icinga and similar systems),
                      or write a JSON document or Prometheus metrics (--format)

Scan output (--servers, --partitions):
  --format FORMAT     txt (TAB-separated, the default), csv (comma-separated), html or
                      xml: the documents the main window's export writes, every line
                      ending in CR LF. In txt and csv a cell is written as it is, not
                      quoted: a comma, TAB or double quote inside it stays unmarked
                      (files kept so far and spreadsheets' import settings rely on it);
                      only a cell of several lines is enclosed in double quotes, its
                      own double quotes turned into apostrophes
  --output FILE       write to FILE instead of standard output: a regular file is
                      replaced atomically (unless its permissions forbid writing it);
                      a character device or a FIFO (with a reader) is written through;
                      a symbolic link stays and the file it points to is written; a
                      link to nothing, a folder or anything else is refused

Health check (--health):
  CRITICAL  a replica that reports sync errors; a replica whose Partition Status is in
            local or remote error; a ring without a master or with more than one; two
            replicas of a ring with the same replica number; a last sync older than
            --crit-age
  WARNING   a ring with fewer than 3 readable replicas (master, secondary, read-only);
            a last sync older than --warn-age; a last sync more than 5 minutes in
            the future (a server's clock is off)
  UNKNOWN   the tree cannot be loaded or reached (an LDAP server is named by its URL,
            with its error), or partitions or rings cannot be read
  Over LDAP no request gives a replica's list of sync errors: the rule on replicas that
  report sync errors reads each replica's last error, from its Partition Status value.
  A rule a tree cannot give the facts for is not checked: the summary line names it
  after "not checked:" instead of passing it as OK. The other rules read the replicas'
  Replica and Partition Status values as over a tree file.
  --warn-age DURATION  default 4h; not longer than --crit-age
  --crit-age DURATION  default 24h
  Durations are seconds ("90") or a number with s, m, h or d ("90s", "15m", "4h", "2d").
  Sync ages are measured against the directory server's own time. The summary line names
  the tree checked and ends with performance data: partitions, replicas,
  replicas_with_errors, oldest_sync_age (s); then, for a tree of at most 10
  partitions, each partition's 'NAME oldest_sync_age' (s) and 'NAME sync_errors'
  (U where the tree cannot tell).
  --format FORMAT     json: one document for scripts (schema 1: the status, every
                      partition with its replicas, every finding with its rule and the
                      rules not checked); prometheus: metrics in the text format of
                      node_exporter's textfile collector (vestrel_replica_*,
                      vestrel_partition_replicas, vestrel_check_*). The manual page
                      names every field and metric
  --output FILE       with --format json or prometheus: write to FILE as for the scans
                      (replaced atomically). A tree that cannot be read or reached still
                      gets its document, UNKNOWN (vestrel_check_success 0), so a collector
                      never serves stale values
  A tree that cannot be loaded is never replaced by another: when the tree file, or the
  workstation's preferred tree (no --tree given), cannot be loaded, the check is UNKNOWN.

Other options:
  --timeout SECONDS   the whole run may take this long (default 300; a duration as
                      above works too, up to 24h): no wait for a server goes past it,
                      and a run that reaches it ends UNKNOWN, naming what it was reading
  --quiet             --health prints nothing when the status is OK (the exit code
                      still tells); problems and errors are printed as usual. Not with
                      --format json or prometheus, which always write their document
  --help              show this text
  --version           show the program's version

Exit status:
  0  OK (or the scan was written)
  1  WARNING
  2  CRITICAL
  3  UNKNOWN: bad arguments, unknown tree, unreadable file, the tree cannot be loaded,
     reached or scanned (its search fails, or reads of a scan are lost to the link: a
     server gone or silent, answers that cannot be read, referrals to other servers),
     the run reaches --timeout, or the output (a file or standard output) cannot be
     written. With --health anywhere on the command line, the reason is also
     the status line on standard output: "VESTREL UNKNOWN - <reason>"; with
     --health --format json or prometheus, it is in the document instead (unless
     the command line itself is wrong)

Examples:
  vestrel-check --health --warn-age 2h --crit-age 12h
  vestrel-check --tree ACME_TREE --partitions --format csv --output partitions.csv
  vestrel-check --health --format prometheus --output /var/lib/prometheus/node-exporter/vestrel.prom
)";
}

std::string VersionText() { return std::string(kProgram) + " " + kVersionNumber + "\n"; }

}  // namespace vestrel::check
