// The command line of vestrel-check: what to report, from which tree, in which form.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vestrel::check {

enum class CheckMode { None, Servers, Partitions, Health };
enum class GridFormat { Text, Html, Xml, Csv };
// --health writes its status text for monitoring plugins, or a document for scripts and collectors.
enum class HealthFormat { Text, Json, Prometheus };

inline constexpr std::int64_t kDefaultWarnAge = 4 * 3600;
inline constexpr std::int64_t kDefaultCritAge = 24 * 3600;
// Ages beyond this are refused: the directory counts time in 32-bit seconds.
inline constexpr std::int64_t kMaxDuration = 0xFFFFFFFFll;
// The whole run's time limit unless --timeout says otherwise, as monitoring plugins have.
inline constexpr std::int64_t kDefaultTimeout = 300;

struct CheckOptions {
  CheckMode mode = CheckMode::None;
  std::string tree;             // empty: the workstation's preferred tree
  std::string connectionsFile;  // --connections
  std::string treeFile;         // --tree-file
  std::string passwordFile;     // --password-file: for LDAP connections without a password source
  GridFormat format = GridFormat::Text;        // of the scans
  HealthFormat healthFormat = HealthFormat::Text;  // of --health
  std::string formatName;                        // --format as given; it fits one mode or the other
  bool formatGiven = false;
  std::string output;  // empty: standard output
  std::int64_t warnAge = kDefaultWarnAge;
  std::int64_t critAge = kDefaultCritAge;
  bool ageGiven = false;
  std::int64_t timeout = kDefaultTimeout;  // seconds the whole run may take
  bool quiet = false;
  bool help = false;
  bool version = false;
};

struct ParsedArguments {
  CheckOptions options;
  std::string error;  // empty when the command line is usable
  // --health is on the command line, wherever it stands (also when the problem found comes
  // before it): a monitoring system then wants its status line even for a bad command line.
  bool healthAsked = false;
  bool Ok() const { return error.empty(); }
};

// "90" and "90s" are seconds, "15m" minutes, "4h" hours, "2d" days. Anything else (no
// digits, another suffix, a sign, a fraction, more than kMaxDuration seconds) is refused.
std::optional<std::int64_t> ParseDuration(const std::string& text);
// A number of seconds in the largest units that fit, at most two: "4h", "1d 2h", "5m 3s", "0s".
std::string DurationText(std::int64_t seconds);

// The arguments after the program name. Options take their value as the next argument
// or after "="; a later option of the same kind wins. --help and --version succeed
// whatever else is wrong, so they always answer.
ParsedArguments ParseArguments(const std::vector<std::string>& arguments);

std::string UsageText();  // the one-line synopsis
std::string HelpText();   // everything the program does, for --help
std::string VersionText();

}  // namespace vestrel::check
