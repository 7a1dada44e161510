// The window over a slow link (the test bed's endpoints adding 300 ms to each round trip,
// far more than the wait's slices): it keeps letting its messages run while a request is
// out, and a close in the middle of a scan ends the scan at its next wait and then
// closes the window, its settings written and every context freed.
#include <QTest>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "LdapWindowTest.h"

namespace vestrel {
namespace {

using Clock = std::chrono::steady_clock;
constexpr std::chrono::milliseconds kSlowLink{300};

class SlowLinkWindowTest : public LdapWindowTest {
 protected:
  SlowLinkWindowTest() : LdapWindowTest(/*withOperations=*/true) {}

  void ShowWindow(TMainForm& form) {
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    ASSERT_EQ(form.ComboBoxTrees->currentText().toStdString(), "ACME_TREE");
    bed_.DelayMessages(kSlowLink);
  }
  int Pumps() const { return ui_.processMessagesCalls + ui_.processPaintMessagesCalls; }
};

TEST_F(SlowLinkWindowTest, TheWindowLetsItsMessagesRunAtLeastEveryTenthOfASecond) {
  TMainForm form;
  ShowWindow(form);
  form.PageControl->setCurrentWidget(form.TabSheetServers);
  const int pumpsBefore = Pumps();
  const Clock::time_point start = Clock::now();
  form.BitBtnSrv->click();
  const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
  ASSERT_EQ(form.StringGridSrv->Grid().RowCount(), 7);
  EXPECT_EQ(form.StringGridSrv->Grid().Cell(1, 1), "BER-FS1");
  EXPECT_GE(elapsed, kSlowLink);
  EXPECT_GE(Pumps() - pumpsBefore, elapsed.count() / 100) << elapsed.count() << " ms";
  EXPECT_TRUE(ui_.boxes.empty());
}

TEST_F(SlowLinkWindowTest, ClosingDuringAScanEndsItAtItsNextWaitThenCloses) {
  auto form = std::make_unique<TMainForm>();
  ShowWindow(*form);
  form->PageControl->setCurrentWidget(form->TabSheetPart);
  Clock::time_point closedAt{};
  ui_.onProcessMessages = [&] {
    if (closedAt != Clock::time_point{} || ScanRunning() == false) return;
    closedAt = Clock::now();
    form->close();
    EXPECT_TRUE(form->isVisible()) << "the window waits for the scan";
  };
  form->BitBtnPart->click();
  ui_.onProcessMessages = nullptr;
  ASSERT_NE(closedAt, Clock::time_point{});
  // Given up at the next wait: far sooner than the rest of the scan over this link.
  EXPECT_LT(Clock::now() - closedAt, 3 * kSlowLink);
  EXPECT_FALSE(form->isVisible());
  EXPECT_EQ(nwtest::OpenContexts(), 0u) << "the scan's and the window's contexts are freed";
  // The settings file, whatever the program's name makes of it.
  std::stringstream settings;
  for (const auto& file : std::filesystem::recursive_directory_iterator(config_.Path()))
    if (file.path().extension() == ".ini") settings << std::ifstream(file.path()).rdbuf();
  EXPECT_NE(settings.str().find("MainForm.Top="), std::string::npos) << settings.str();
  EXPECT_TRUE(ui_.boxes.empty());
  form.reset();  // nothing of the scan runs after the window is gone
}

}  // namespace
}  // namespace vestrel
