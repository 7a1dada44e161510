// The command line: durations, options with their values, modes and the combinations
// that are refused with a clear message.
#include <gtest/gtest.h>

#include "check/CheckOptions.h"

namespace vestrel::check {
namespace {

ParsedArguments Parse(std::vector<std::string> arguments) { return ParseArguments(arguments); }

TEST(CheckDurations, SecondsAndSuffixesAreAccepted) {
  EXPECT_EQ(ParseDuration("90"), 90);
  EXPECT_EQ(ParseDuration("0"), 0);
  EXPECT_EQ(ParseDuration("90s"), 90);
  EXPECT_EQ(ParseDuration("15m"), 900);
  EXPECT_EQ(ParseDuration("4h"), 14400);
  EXPECT_EQ(ParseDuration("2d"), 172800);
  EXPECT_EQ(ParseDuration("4H"), 14400);
  EXPECT_EQ(ParseDuration("4294967295"), 4294967295ll);
}

TEST(CheckDurations, AnythingElseIsRefused) {
  for (const char* bad : {"", "4x", "h", "-5", "+5", "1.5h", "4 h", " 4h", "4hh", "4h ", "0x10", "4294967296",
                          "49711d", "99999999999999999999999", "1e3"})
    EXPECT_FALSE(ParseDuration(bad).has_value()) << bad;
}

TEST(CheckDurations, TextsUseTheLargestTwoUnits) {
  EXPECT_EQ(DurationText(0), "0s");
  EXPECT_EQ(DurationText(-5), "0s");
  EXPECT_EQ(DurationText(59), "59s");
  EXPECT_EQ(DurationText(14400), "4h");
  EXPECT_EQ(DurationText(14401), "4h 0m");
  EXPECT_EQ(DurationText(90061), "1d 1h");
  EXPECT_EQ(DurationText(86400), "1d");
  EXPECT_EQ(DurationText(3725), "1h 2m");
}

TEST(CheckArguments, EveryOptionWithItsValue) {
  const ParsedArguments parsed = Parse({"--tree", "LAB_TREE", "--tree-file=/x/t.json", "--health", "--warn-age", "2h",
                                        "--crit-age=1d", "--quiet"});
  ASSERT_TRUE(parsed.Ok()) << parsed.error;
  const CheckOptions& o = parsed.options;
  EXPECT_EQ(o.mode, CheckMode::Health);
  EXPECT_EQ(o.tree, "LAB_TREE");
  EXPECT_EQ(o.treeFile, "/x/t.json");
  EXPECT_EQ(o.warnAge, 7200);
  EXPECT_EQ(o.critAge, 86400);
  EXPECT_TRUE(o.quiet);

  const ParsedArguments scan = Parse({"--partitions", "--format", "CSV", "--output", "p.csv", "--connections", "c.json"});
  ASSERT_TRUE(scan.Ok()) << scan.error;
  EXPECT_EQ(scan.options.mode, CheckMode::Partitions);
  EXPECT_EQ(scan.options.format, GridFormat::Csv);
  EXPECT_EQ(scan.options.output, "p.csv");
  EXPECT_EQ(scan.options.connectionsFile, "c.json");
  EXPECT_EQ(Parse({"--health", "--password-file", "/x/pw"}).options.passwordFile, "/x/pw");
  // Defaults: TAB text, standard output, 4h and 24h.
  const ParsedArguments plain = Parse({"--servers"});
  ASSERT_TRUE(plain.Ok());
  EXPECT_EQ(plain.options.format, GridFormat::Text);
  EXPECT_EQ(plain.options.output, "");
  EXPECT_EQ(plain.options.warnAge, 4 * 3600);
  EXPECT_EQ(plain.options.critAge, 24 * 3600);
  // The same mode twice is no conflict; a later value wins.
  EXPECT_TRUE(Parse({"--health", "--health"}).Ok());
  EXPECT_EQ(Parse({"--servers", "--format", "xml", "--format", "html"}).options.format, GridFormat::Html);
  // The health check's documents, to standard output or a file.
  const ParsedArguments metrics = Parse({"--format", "PROMETHEUS", "--output", "v.prom", "--health"});
  ASSERT_TRUE(metrics.Ok()) << metrics.error;
  EXPECT_EQ(metrics.options.healthFormat, HealthFormat::Prometheus);
  EXPECT_EQ(metrics.options.output, "v.prom");
  EXPECT_EQ(Parse({"--health", "--format=json"}).options.healthFormat, HealthFormat::Json);
  EXPECT_EQ(Parse({"--health"}).options.healthFormat, HealthFormat::Text);
}

TEST(CheckArguments, ProblemsAreNamed) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{}, "choose one of --servers, --partitions and --health"},
      {{"--servers", "--health"}, "choose one of --servers, --partitions and --health, not --servers and --health"},
      {{"--health", "--bogus"}, "unknown option \"--bogus\""},
      {{"--health", "-x"}, "unknown option \"-x\""},
      {{"--health", "stray"}, "unexpected argument \"stray\""},
      {{"--health", "--tree"}, "option --tree needs a value"},
      {{"--health", "--warn-age", "4x"}, "bad duration \"4x\" for --warn-age (use seconds or a number with s, m, h or d)"},
      {{"--health", "--crit-age="}, "bad duration \"\" for --crit-age (use seconds or a number with s, m, h or d)"},
      {{"--servers", "--format", "pdf"}, "unknown format \"pdf\" (use txt, html, xml or csv)"},
      {{"--health", "--quiet=yes"}, "option --quiet takes no value"},
      {{"--health=1"}, "option --health takes no value"},
      {{"--servers", "--connections", "a", "--tree-file", "b"}, "use --connections or --tree-file, not both"},
      {{"--servers", "--tree-file="}, "option --tree-file needs a file name"},
      {{"--servers", "--output="}, "option --output needs a file name"},
      {{"--servers", "--password-file="}, "option --password-file needs a file name"},
      {{"--health", "--format", "csv"},
       "--format csv applies to --servers and --partitions; with --health use json or prometheus"},
      {{"--servers", "--format", "json"},
       "--format json applies to --health; with --servers and --partitions use txt, html, xml or csv"},
      {{"--format=Prometheus", "--partitions"},
       "--format Prometheus applies to --health; with --servers and --partitions use txt, html, xml or csv"},
      {{"--health", "--format", "yaml"}, "unknown format \"yaml\" for --health (use json or prometheus)"},
      {{"--health", "--output", "x"},
       "--output applies to --health with --format json or prometheus only (the status text goes to standard output)"},
      {{"--health", "--format", "json", "--quiet"},
       "--quiet applies to the status text of --health, not to --format json or prometheus"},
      {{"--servers", "--warn-age", "1h"}, "--warn-age and --crit-age apply to --health only"},
      {{"--health", "--tree="}, "option --tree needs a tree name"},
      {{"--health", "--tree", ""}, "option --tree needs a tree name"},
      {{"--health", "--warn-age", "2d"},
       "--warn-age 2d is longer than --crit-age 1d (a warning must come before the critical state)"},
      {{"--health", "--crit-age", "1h"},
       "--warn-age 4h is longer than --crit-age 1h (a warning must come before the critical state)"},
  };
  for (const auto& [arguments, message] : cases) {
    const ParsedArguments parsed = ParseArguments(arguments);
    EXPECT_EQ(parsed.error, message);
  }
  // The first problem is the one reported.
  EXPECT_EQ(Parse({"--bogus", "--warn-age", "4x"}).error, "unknown option \"--bogus\"");
  // A tree named later wins over an empty one; equal ages are fine.
  EXPECT_TRUE(Parse({"--health", "--tree=", "--tree", "T"}).Ok());
  EXPECT_TRUE(Parse({"--health", "--warn-age", "1d", "--crit-age", "1d"}).Ok());
  // A health check is asked for wherever --health stands, even behind the problem.
  EXPECT_TRUE(Parse({"--bogus", "--health"}).healthAsked);
  EXPECT_TRUE(Parse({"--tree", "--health"}).healthAsked);
  EXPECT_FALSE(Parse({"--servers", "--bogus"}).healthAsked);
}

TEST(CheckArguments, HelpAndVersionAnswerWhateverElseIsGiven) {
  const ParsedArguments help = Parse({"--bogus", "--help"});
  EXPECT_TRUE(help.Ok());
  EXPECT_TRUE(help.options.help);
  EXPECT_TRUE(Parse({"--version"}).options.version);
  EXPECT_TRUE(Parse({"--version"}).Ok());
  // The help text tells every option and exit code.
  const std::string text = HelpText();
  for (const char* word : {"--tree", "--connections", "--tree-file", "--servers", "--partitions", "--health",
                           "--format", "--output", "--warn-age", "--crit-age", "--quiet", "--help", "--version",
                           "CRITICAL", "WARNING", "UNKNOWN", "oldest_sync_age", "txt", "csv", "html", "xml"})
    EXPECT_NE(text.find(word), std::string::npos) << word;
  EXPECT_EQ(text.rfind(UsageText(), 0), 0u);
  // Stored files and spreadsheets' import settings rely on unquoted cells: the help says so.
  EXPECT_NE(text.find("a comma, TAB or double quote inside it stays unmarked"), std::string::npos) << text;
}

}  // namespace
}  // namespace vestrel::check
