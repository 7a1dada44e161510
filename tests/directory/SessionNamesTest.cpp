// Name helpers and conversions of the session that need no directory.
#include <gtest/gtest.h>

#include "directory/D_NW.h"

namespace vestrel {
namespace {

TEST(SessionNames, AbsoluteNameAddsOneDotOnlyWhereNeeded) {
  EXPECT_EQ(AbsoluteName("SRV1.ORG"), ".SRV1.ORG");
  EXPECT_EQ(AbsoluteName(".ORG"), ".ORG");
  EXPECT_EQ(AbsoluteName(""), "");
  for (const char* special : {"[Root]", "[This]", "[Public]", "[Supervisor]"}) {
    EXPECT_EQ(AbsoluteName(special), special);
  }
  // Special names are matched exactly: another spelling is an ordinary name.
  EXPECT_EQ(AbsoluteName("[ROOT]"), ".[ROOT]");
  EXPECT_EQ(AbsoluteName("[Root].ORG"), ".[Root].ORG");
}

TEST(SessionNames, RelativeNameRemovesOneLeadingDot) {
  EXPECT_EQ(RelativeName(".ORG"), "ORG");
  EXPECT_EQ(RelativeName("..ORG"), ".ORG");
  EXPECT_EQ(RelativeName("SRV1.ORG"), "SRV1.ORG");
  EXPECT_EQ(RelativeName("."), "");
  EXPECT_EQ(RelativeName(""), "");
}

TEST(SessionNames, IsSpecialNameIsCaseSensitive) {
  EXPECT_TRUE(IsSpecialName("[Root]"));
  EXPECT_TRUE(IsSpecialName("[Supervisor]"));
  EXPECT_FALSE(IsSpecialName("[root]"));
  EXPECT_FALSE(IsSpecialName(""));
  EXPECT_FALSE(IsSpecialName("Root"));
}

TEST(SessionNames, TreeNameTextDropsPaddingWithinThirtyTwoCharacters) {
  EXPECT_EQ(TreeNameText("CORP_TREE_______"), "CORP_TREE");
  EXPECT_EQ(TreeNameText(std::string("CORP_TREE") + std::string(23, '_')), "CORP_TREE");
  EXPECT_EQ(TreeNameText("________"), "");
  EXPECT_EQ(TreeNameText(""), "");
  // Only the first 32 characters count, even when more follow.
  EXPECT_EQ(TreeNameText(std::string(30, 'A') + "__XYZ"), std::string(30, 'A'));
  EXPECT_EQ(TreeNameText(std::string(40, 'B')), std::string(32, 'B'));
}

TEST(SessionNames, DirTimeToDateTimeCountsDaysFrom1899WithoutZoneShift) {
  EXPECT_DOUBLE_EQ(DirTimeToDateTime(0), 25569.0);
  EXPECT_DOUBLE_EQ(DirTimeToDateTime(86400), 25570.0);
  EXPECT_DOUBLE_EQ(DirTimeToDateTime(43200), 25569.5);
  // The full unsigned range: 0xFFFFFFFF seconds is after 2106, not before 1970.
  EXPECT_DOUBLE_EQ(DirTimeToDateTime(0xFFFFFFFFu), 25569.0 + 4294967295.0 / 86400.0);
  EXPECT_GT(DirTimeToDateTime(0x80000000u), 25569.0);
}

TEST(PartitionTypes, ReplicaTypeNamesAndUnknownNumbers) {
  EXPECT_EQ(ReplicaTypeName(0), "Master");
  EXPECT_EQ(ReplicaTypeName(1), "Secondary");
  EXPECT_EQ(ReplicaTypeName(2), "Read-Only");
  EXPECT_EQ(ReplicaTypeName(3), "Subordinate Reference");
  EXPECT_EQ(ReplicaTypeName(4), "Unknown (Type: 4)");
  EXPECT_EQ(ReplicaTypeName(0xFFFFFFFFu), "Unknown (Type: -1)");  // "%d" is signed 32-bit
}

}  // namespace
}  // namespace vestrel
