// Error texts with and without the error-text library, and the error box.
#include <gtest/gtest.h>

#include <dlfcn.h>

#include <cstring>
#include <string>

#include "RecordingUi.h"
#include "directory/D_NW_Errors.h"

namespace vestrel {
namespace {

// Each test decides where the error-text library is looked up, and the lookup is put back
// to normal afterwards.
class ErrorTextTest : public ::testing::Test {
 protected:
  void TearDown() override { SetErrorTextLibraryPath(""); }
  static void WithLibrary() { SetErrorTextLibraryPath(VESTREL_TEST_NWERR_LIBRARY); }
  static void WithoutLibrary() { SetErrorTextLibraryPath("/nonexistent/libnwerr32.so"); }
};

TEST_F(ErrorTextTest, WithoutLibraryOnlyTheHexadecimalCodeIsShown) {
  WithoutLibrary();
  EXPECT_EQ(ErrorText(0x8847), "0x8847");
  EXPECT_EQ(ErrorText(5), "0x0005");
  EXPECT_EQ(ErrorText(0), "0x0000");
  // A negative code shows all eight digits of its 32-bit two's complement.
  EXPECT_EQ(ErrorText(-601), "0xFFFFFDA7");
  EXPECT_EQ(ErrorText(0x12345), "0x12345");
}

TEST_F(ErrorTextTest, WithLibraryKnownCodesGetTheLibrarysText) {
  WithLibrary();
  EXPECT_EQ(ErrorText(-601), "0xFFFFFDA7 (No such entry)");
  EXPECT_EQ(ErrorText(-672), "0xFFFFFD60 (No access)");
  EXPECT_EQ(ErrorText(-326), "0xFFFFFEBA (Invalid filter syntax)");
  EXPECT_EQ(ErrorText(0x8847), "0x8847 (No primary connection)");
}

TEST_F(ErrorTextTest, WithLibraryUnknownCodesFallBackToTheSystemMessage) {
  WithLibrary();
  EXPECT_EQ(ErrorText(5), std::string("0x0005 (") + std::strerror(5) + ")");
  EXPECT_EQ(ErrorText(30), std::string("0x001E (") + std::strerror(30) + ")");
  EXPECT_EQ(ErrorText(-800), std::string("0xFFFFFCE0 (") + std::strerror(-800) + ")");
}

TEST_F(ErrorTextTest, LibraryIsUnloadedAfterEveryLookup) {
  WithLibrary();
  EXPECT_EQ(ErrorText(-601), "0xFFFFFDA7 (No such entry)");
  void* stillLoaded = dlopen(VESTREL_TEST_NWERR_LIBRARY, RTLD_NOW | RTLD_NOLOAD);
  EXPECT_EQ(stillLoaded, nullptr);
  if (stillLoaded != nullptr) dlclose(stillLoaded);
}

TEST_F(ErrorTextTest, LibraryWithoutTheExportCountsAsUnknownError) {
  // Any loadable library without "NWstrerror": the system's C library.
  SetErrorTextLibraryPath("libc.so.6");
  EXPECT_EQ(ErrorText(2), std::string("0x0002 (") + std::strerror(2) + ")");
}

TEST_F(ErrorTextTest, ReportErrorShowsOneErrorBoxUnlessTheCodeIsZero) {
  WithLibrary();
  testing::RecordingUi ui;
  ReportError(0, "NWDSSyncSchema");
  ReportError(0, "");
  EXPECT_TRUE(ui.boxes.empty());

  ReportError(-601, "Get Server Partitions");
  ReportError(-672, "");
  ASSERT_EQ(ui.boxes.size(), 2u);
  EXPECT_EQ(ui.boxes[0].kind, DialogKind::Error);
  EXPECT_EQ(ui.boxes[0].buttons, DialogButtons::Ok);
  EXPECT_EQ(ui.boxes[0].text, "Get Server Partitions returned error 0xFFFFFDA7 (No such entry)");
  EXPECT_EQ(ui.boxes[1].text, " returned error 0xFFFFFD60 (No access)");
}

}  // namespace
}  // namespace vestrel
