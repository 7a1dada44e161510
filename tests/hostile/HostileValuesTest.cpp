// Every value of the hostile tree read the way the program reads it (ReadAttrLines): each
// bad value shows as "Range check error", a hex dump, a cut text or nothing, never a crash
// or a read outside the value.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>

#include <nlohmann/json.hpp>

#include "HostileTree.h"
#include "platform/nwclient/Model.h"

namespace vestrel::testing {
namespace {

using Lines = std::vector<std::string>;

Lines SplitCrLf(const std::string& text) {
  Lines lines;
  std::size_t start = 0;
  for (std::size_t at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", start)) {
    lines.push_back(text.substr(start, at - start));
    start = at + 2;
  }
  lines.push_back(text.substr(start));
  return lines;
}

bool IsHexDump(const std::string& line, std::size_t bytes) {
  return line.size() == 2 * bytes &&
         line.find_first_not_of("0123456789ABCDEF") == std::string::npos;
}

// An expectation of the tree file: an exact line or "~any", "~hex:N", "~prefix:",
// "~suffix:", "~contains:".
bool LineMatches(const std::string& line, const std::string& expected) {
  auto rest = [&](const std::string& tag) { return expected.substr(tag.size()); };
  if (expected == "~any") return true;
  if (expected.starts_with("~hex:")) return IsHexDump(line, std::stoul(rest("~hex:")));
  if (expected.starts_with("~prefix:")) return line.starts_with(rest("~prefix:"));
  if (expected.starts_with("~suffix:")) return line.ends_with(rest("~suffix:"));
  if (expected.starts_with("~contains:")) return line.find(rest("~contains:")) != std::string::npos;
  return line == expected;
}

std::string Shorten(const std::string& text) {
  return text.size() <= 300 ? text : text.substr(0, 300) + "... (" + std::to_string(text.size()) + " characters)";
}

nlohmann::json HostileTreeJson() {
  std::ifstream in(HostileTreeFile());
  std::stringstream content;
  content << in.rdbuf();
  return nlohmann::json::parse(content.str(), nullptr, true, true);
}

struct ReadOutcome {
  NWRCODE code = 0;
  std::string text;
};

class HostileValuesTest : public HostileTreeTest {
 protected:
  ReadOutcome Read(const std::string& object, const std::string& path) {
    ReadOutcome outcome;
    outcome.code = ReadAttrLines(context, object, path, outcome.text);
    return outcome;
  }

  Lines ReadLines(const std::string& object, const std::string& path) {
    const ReadOutcome outcome = Read(object, path);
    EXPECT_EQ(outcome.code, 0) << object << " / " << path;
    return SplitCrLf(outcome.text);
  }
};

// The expectations written beside each raw value in the tree file.
TEST_F(HostileValuesTest, EveryRawValueShowsTheLinesItsTreeFileExpects) {
  const nlohmann::json doc = HostileTreeJson();
  int checked = 0;
  for (const auto& object : doc["objects"]) {
    if (!object.contains("attributes")) continue;
    const std::string name = object["name"];
    for (const auto& [attr, spec] : object["attributes"].items()) {
      SCOPED_TRACE(name + " / " + attr);
      ASSERT_TRUE(spec.contains("_expect") || spec.contains("_code")) << "every hostile value says what it shows";
      const ReadOutcome outcome = Read(name, attr);
      ++checked;
      if (spec.contains("_code")) {
        EXPECT_EQ(outcome.code, spec["_code"].get<int>());
        EXPECT_EQ(outcome.text, "");
        continue;
      }
      ASSERT_EQ(outcome.code, 0);
      const Lines lines = SplitCrLf(outcome.text);
      const Lines expected = spec["_expect"].get<Lines>();
      EXPECT_EQ(lines.size(), expected.size()) << Shorten(outcome.text);
      for (std::size_t i = 0; i < std::min(lines.size(), expected.size()); ++i)
        EXPECT_TRUE(LineMatches(lines[i], expected[i])) << "line " << i << ": \"" << Shorten(lines[i])
                                                        << "\" expected \"" << Shorten(expected[i]) << "\"";
    }
  }
  EXPECT_GE(checked, 40);
}

// Every attribute a read can see, derived ones included, on every object: a code or
// lines, never an exception or a crash; a value too big for a reply gives its code.
TEST_F(HostileValuesTest, EveryAttributeOfEveryObjectReadsWithoutFailing) {
  int reads = 0;
  for (const nw::Object* object : tree->Objects()) {
    const std::string name = object->FullName();
    for (const nw::Attribute& attr : nw::EffectiveAttributes(*tree, *object)) {
      SCOPED_TRACE(name + " / " + attr.name);
      ReadOutcome outcome;
      ASSERT_NO_THROW(outcome = Read(name, attr.name));
      EXPECT_TRUE(outcome.code == 0 || outcome.code == ERR_INSUFFICIENT_BUFFER) << outcome.code;
      ++reads;
    }
    for (const char* pseudo : {"CONTEXT", "RDN", "CLASS", "createTimeStamp", "modifyTimestamp",
                               "creatorsName|Network Address", "Replica|Version"})
      EXPECT_NO_THROW(Read(name, pseudo)) << name << " / " << pseudo;
  }
  EXPECT_GT(reads, 150);
}

TEST_F(HostileValuesTest, ShortNetworkAddressesOfEveryTypeShowWhatTheirBytesHold) {
  EXPECT_EQ(ReadLines("FS1.Servers.HOSTILE", "Network Address"),
            (Lines{"(0) 0A0B:", "(1) 10.0.0.0:0", "(7) 10.0.0.1:0", "(8) 10.0.0.0:524", "(9) 0.0.0.0:0",
                   "(10) 255.0.0.0:0", "(11) 10.0.0.1:512", "(12) [01]", "(13) AB\xEF\xBF\xBD", "(13) ",
                   "(20) [010203040506070809101112]", "(-1) [AB]", "(2) [02]", "(3) []", "(4) [0405]",
                   "(5) [05]", "(6) [06]", "(19) [13]"}));
  EXPECT_EQ(ReadLines(".CN=A<b>&\"q'/x.Servers.HOSTILE", "Network Address"), Lines{"(13) <&>"});
  // A lone surrogate in a UTF-16 address becomes U+FFFD.
  EXPECT_EQ(ReadLines(kNonUtf8Name + ".Servers.HOSTILE", "Network Address"), Lines{"(13) \xEF\xBF\xBD" "A"});
}

TEST_F(HostileValuesTest, ReplicaValuesOutOfRangeShowRangeCheckErrorOrTheirNumbers) {
  // State -1 is a range failure; 7 is an unknown state; later values never show an error.
  const Lines status = ReadLines("NegState.HOSTILE", "Partition Status");
  ASSERT_EQ(status.size(), 3u);
  EXPECT_EQ(status[0], "Range check error");
  EXPECT_TRUE(status[1].starts_with("FS2.Servers.HOSTILE / Replica 2 / Last Sync:  ")) << status[1];
  EXPECT_TRUE(status[1].ends_with("/ (7 - unknown) ")) << status[1];
  EXPECT_TRUE(status[2].starts_with("DOWN.Servers.HOSTILE / Replica 3 / Last Sync:  ")) << status[2];
  EXPECT_TRUE(status[2].ends_with("/ (remote error) ")) << status[2];

  EXPECT_EQ(ReadLines("NegState.HOSTILE", "Replica"),
            (Lines{"FS1.Servers.HOSTILE [Master] [Nr: -1]", "FS2.Servers.HOSTILE [Unknown (Type: 9)] [Nr: 2]",
                   "DOWN.Servers.HOSTILE [Subordinate Reference] [Nr: 3]"}));
  const Lines vector = ReadLines("NegState.HOSTILE", "Transitive Vector");
  ASSERT_EQ(vector.size(), 3u);
  EXPECT_EQ(vector[0], "(FFFFFFFF/FFFFFFFF/   1) FS1.Servers.HOSTILE");
  EXPECT_EQ(vector[1], "(   2/   0/FFFFFFFF) FS2.Servers.HOSTILE");
  // A negative status error shows its 32-bit pattern in hex.
  const Lines errors = ReadLines("Errors.HOSTILE", "Partition Status");
  ASSERT_EQ(errors.size(), 2u);
  EXPECT_TRUE(errors[0].ends_with("/ (local error) / Error FFFFFD8F")) << errors[0];
}

TEST_F(HostileValuesTest, ServerNumbersAndTextsOutOfRangeStayPlainText) {
  EXPECT_EQ(ReadLines("FS1.Servers.HOSTILE", "DS Revision"), Lines{"-1"});
  EXPECT_EQ(ReadLines("FS2.Servers.HOSTILE", "DS Revision"), Lines{"-1"});
  EXPECT_EQ(ReadLines("FS1.Servers.HOSTILE", "Version"), Lines{std::string(1024, 'A')});
  EXPECT_EQ(ReadLines("FS2.Servers.HOSTILE", "Version"), Lines{"<b>Ver & \"sion\"</b>/"});
  EXPECT_EQ(ReadLines(kNonUtf8Name + ".Servers.HOSTILE", "Version"), Lines{"Version \xFE\xFF"});
  EXPECT_EQ(ReadLines(kNonUtf8Name + ".HOSTILE", "CN"), Lines{kNonUtf8Name});
}

}  // namespace
}  // namespace vestrel::testing
