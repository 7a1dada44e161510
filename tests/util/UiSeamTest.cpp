#include <gtest/gtest.h>

#include "RecordingUi.h"
#include "util/UiSeam.h"

namespace vestrel {
namespace {

TEST(UiSeam, RecordingSeamRecordsBoxesAndAnswersInOrder) {
  testing::RecordingUi ui;
  ui.QueueAnswer(DialogResult::Abort);
  EXPECT_EQ(Ui().MessageBox(DialogKind::Confirmation, "Are you sure?", DialogButtons::OkAbort),
            DialogResult::Abort);
  EXPECT_EQ(Ui().MessageBox(DialogKind::Error, "x", DialogButtons::Ok), DialogResult::Ok);
  ASSERT_EQ(ui.boxes.size(), 2u);
  EXPECT_EQ(ui.boxes[0].text, "Are you sure?");
  EXPECT_EQ(ui.boxes[1].kind, DialogKind::Error);
}

TEST(UiSeam, WithoutAWindowConfirmationsAnswerNo) {
  EXPECT_EQ(Ui().MessageBox(DialogKind::Confirmation, "Are you sure?", DialogButtons::OkAbort),
            DialogResult::Abort);
}

}  // namespace
}  // namespace vestrel
