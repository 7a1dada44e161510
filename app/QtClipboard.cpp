#include "app/QtClipboard.h"

#include <QClipboard>
#include <QGuiApplication>

namespace vestrel {

void QtClipboard::SetText(const std::string& text) {
  QGuiApplication::clipboard()->setText(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
}

std::string QtClipboard::Text() const { return QGuiApplication::clipboard()->text().toStdString(); }

}  // namespace vestrel
