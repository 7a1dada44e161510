// Shared helpers of the client library tests: a fresh engine with the demo trees, and
// a reader that walks a read reply the way the program does.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "directory/NETWIN32.h"
#include "platform/nwclient/NwTestHooks.h"

namespace vestrel::testing {

inline std::string DemoTree(const std::string& file) { return std::string(VESTREL_TEST_TREES) + "/" + file; }

// Every test starts from an empty engine, so no test sees the machine's connections.
class NwTest : public ::testing::Test {
 protected:
  void SetUp() override { nwtest::Reset(); }
  void TearDown() override {
    for (NWDSContextHandle c : contexts_) DSContextFree(c);
    nwtest::Reset();
  }

  void ConnectDemo() {
    ASSERT_EQ(nwtest::ConnectTreeFile(DemoTree("acme.json"), "admin.ACME", true), "");
    ASSERT_EQ(nwtest::ConnectTreeFile(DemoTree("lab.json"), "admin.LAB", false), "");
  }

  // A context on the tree with typeless names and the name context [Root], as the
  // program sets its main context after choosing a tree.
  NWDSContextHandle Context(const std::string& tree = "ACME_TREE", nuint32 addFlags = DCV_TYPELESS_NAMES) {
    NWDSContextHandle c = 0;
    EXPECT_EQ(DSContextCreate(&c), 0);
    EXPECT_EQ(DSContextSetValue(c, DCK_TREE_NAME, tree.c_str()), 0);
    nuint32 flags = 0;
    EXPECT_EQ(DSContextGetValue(c, DCK_FLAGS, sizeof flags, &flags), 0);
    flags |= addFlags;
    EXPECT_EQ(DSContextSetValue(c, DCK_FLAGS, &flags), 0);
    EXPECT_EQ(DSContextSetValue(c, DCK_NAME_CONTEXT, "[Root]"), 0);
    contexts_.push_back(c);
    return c;
  }

 private:
  std::vector<NWDSContextHandle> contexts_;
};

// One value as the reader gets it: its memory (exactly the reported size) and details.
struct ReadValue {
  std::string attr;
  nuint32 syntax = 0;
  std::vector<std::uint8_t> memory;  // copy of the value memory, for size checks
  std::shared_ptr<void> block;       // the value memory itself (pointers point into it)
  nuint32 flags = 0;
  TimeStamp_T modTime{};
  template <class T>
  const T& As() const { return *static_cast<const T*>(block.get()); }
  const char* Text() const { return static_cast<const char*>(block.get()); }
};

struct ReadResult {
  NWRCODE code = 0;
  int steps = 0;
  std::vector<ReadValue> values;
};

// Reads the attributes named (all when empty) of an object, step by step.
inline ReadResult ReadAll(NWDSContextHandle context, const std::string& object, const std::vector<std::string>& names,
                          nuint32 infoType = DS_ATTRIBUTE_VALUES, std::size_t replySize = MAX_MESSAGE_LEN) {
  ReadResult result;
  Buf_T* request = nullptr;
  Buf_T* reply = nullptr;
  EXPECT_EQ(DSBufferAlloc(DEFAULT_MESSAGE_LEN, &request), 0);
  EXPECT_EQ(DSBufferInit(context, DSV_READ, request), 0);
  for (const std::string& name : names) EXPECT_EQ(DSRequestAddAttrName(context, request, name.c_str()), 0);
  EXPECT_EQ(DSBufferAlloc(replySize, &reply), 0);
  EXPECT_EQ(DSBufferInit(context, DSV_READ, reply), 0);
  nuint32 iteration = NO_MORE_ITERATIONS;
  do {
    result.code = DSReadStep(context, object.c_str(), infoType, names.empty(), request, &iteration, reply);
    if (result.code) break;
    ++result.steps;
    nuint32 attrCount = 0;
    EXPECT_EQ(DSResultAttrCount(context, reply, &attrCount), 0);
    for (nuint32 a = 0; a < attrCount; ++a) {
      char name[MAX_SCHEMA_NAME_BYTES];
      nuint32 valueCount = 0, syntax = 0;
      EXPECT_EQ(DSResultNextAttr(context, reply, name, &valueCount, &syntax), 0);
      for (nuint32 v = 0; v < valueCount; ++v) {
        ReadValue value;
        value.attr = name;
        value.syntax = syntax;
        if (infoType == DS_VALUE_INFO) {
          EXPECT_EQ(NWDSGetAttrValFlags(context, reply, &value.flags), 0);
          EXPECT_EQ(NWDSGetAttrValModTime(context, reply, &value.modTime), 0);
        }
        nuint32 size = 0;
        EXPECT_EQ(DSResultValueSize(context, reply, syntax, &size), 0);
        value.block = std::shared_ptr<void>(std::malloc(size ? size : 1), std::free);
        EXPECT_EQ(DSResultNextValue(context, reply, syntax, value.block.get()), 0);
        auto* bytes = static_cast<std::uint8_t*>(value.block.get());
        value.memory.assign(bytes, bytes + size);
        result.values.push_back(std::move(value));
      }
    }
  } while (iteration != NO_MORE_ITERATIONS);
  EXPECT_EQ(DSBufferFree(reply), 0);
  EXPECT_EQ(DSBufferFree(request), 0);
  return result;
}

inline std::vector<const ReadValue*> ValuesOf(const ReadResult& result, const std::string& attr) {
  std::vector<const ReadValue*> out;
  for (const ReadValue& v : result.values)
    if (v.attr == attr) out.push_back(&v);
  return out;
}

inline std::uint32_t U32At(const std::uint8_t* bytes, std::size_t at) {
  return bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 | std::uint32_t(bytes[at + 3]) << 24;
}

// UTF-16LE text at a byte offset, ASCII only, bounded by length.
inline std::string Utf16At(const std::uint8_t* bytes, std::size_t length, std::size_t at) {
  std::string text;
  for (std::size_t i = at; i + 1 < length && (bytes[i] || bytes[i + 1]); i += 2) text += static_cast<char>(bytes[i]);
  return text;
}

}  // namespace vestrel::testing
