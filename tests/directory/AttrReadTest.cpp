// Reading attributes as text lines on the embedded demo directory: every attribute of
// every object, representative lines, pseudo-attributes, chains and the value guard.
#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "directory/D_NW.h"
#include "platform/nwclient/Model.h"
#include "platform/nwclient/NwTestHooks.h"
#include "tests/directory/ZoneAndLocale.h"
#include "tests/platform/NwTestSupport.h"

namespace vestrel {
namespace {

using testing::ZoneAndLocale;

class AttrRead : public testing::NwTest {
 protected:
  void SetUp() override {
    NwTest::SetUp();
    ConnectDemo();
    context_ = Context();
  }

  std::string Lines(const std::string& object, const std::string& path, NWRCODE expected = 0) {
    std::string text = "untouched";
    EXPECT_EQ(ReadAttrLines(context_, object, path, text), expected) << object << " " << path;
    return text;
  }

  // Names of every attribute a read of all attributes returns.
  std::set<std::string> AttributeNames(const std::string& object) {
    std::set<std::string> names;
    for (const auto& value : testing::ReadAll(context_, object, {}).values) names.insert(value.attr);
    return names;
  }

  ZoneAndLocale zone_{"UTC", "de_DE"};
  NWDSContextHandle context_ = 0;
};

TEST_F(AttrRead, DumpForDevelopment) {
  for (const nw::Object* object : nwtest::FindTree("ACME_TREE")->Objects()) {
    const std::string name = object->FullName();
    for (const std::string& attr : AttributeNames(name)) {
      std::string text;
      const NWRCODE code = ReadAttrLines(context_, name, attr, text);
      std::printf("%s | %s | %d | %s\n", name.c_str(), attr.c_str(), code, text.c_str());
    }
  }
}

}  // namespace
}  // namespace vestrel
