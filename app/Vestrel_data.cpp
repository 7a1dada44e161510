#include "app/Vestrel_data.h"

#include <QGuiApplication>
#include <QHBoxLayout>
#include <QScreen>
#include <QStyle>
#include <QVBoxLayout>

namespace vestrel {

TOKBottomDlg* OKBottomDlg = nullptr;

TOKBottomDlg::TOKBottomDlg(QWidget* parent)
    : QDialog(parent), ListBoxDetail(new QListWidget(this)), OKBtn(new QPushButton(this)) {
  setObjectName(QStringLiteral("OKBottomDlg"));
  setWindowTitle(QStringLiteral("Dialog"));
  resize(477, 359);

  ListBoxDetail->setObjectName(QStringLiteral("ListBoxDetail"));
  ListBoxDetail->setSelectionMode(QAbstractItemView::ExtendedSelection);
  OKBtn->setObjectName(QStringLiteral("OKBtn"));
  OKBtn->setText(QStringLiteral("&Close"));
  OKBtn->setIcon(style()->standardIcon(QStyle::SP_DialogCloseButton));
  OKBtn->setDefault(true);
  OKBtn->setMinimumWidth(90);
  connect(OKBtn, &QPushButton::clicked, this, &QDialog::accept);

  // The list takes every side of the dialog; the button keeps to the bottom left.
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(OKBtn);
  buttons->addStretch(1);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(8, 8, 8, 8);
  layout->addWidget(ListBoxDetail, 1);
  layout->addLayout(buttons);
}

void TOKBottomDlg::showEvent(QShowEvent* event) {
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    QRect frame = frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    move(frame.topLeft());
  }
  QDialog::showEvent(event);
}

}  // namespace vestrel
