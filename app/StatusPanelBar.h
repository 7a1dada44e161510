// A status bar of fixed-width text panels that reports clicks anywhere on it.
#pragma once

#include <QLabel>
#include <QStatusBar>
#include <string>
#include <vector>

namespace vestrel {

class StatusPanelBar final : public QStatusBar {
  Q_OBJECT

 public:
  explicit StatusPanelBar(QWidget* parent = nullptr);

  // Adds a panel of the given width at the right of the others; returns its index.
  int AddPanel(int width);
  // The panel keeps its width as its least and takes the room the other panels leave.
  void StretchPanel(int index);
  int PanelCount() const { return static_cast<int>(panels_.size()); }
  QLabel* Panel(int index) const { return panels_.at(static_cast<std::size_t>(index)); }
  std::string PanelText(int index) const;
  void SetPanelText(int index, const std::string& text);

  // The bar's own text, kept beside the panels (the window keeps its web address here).
  const std::string& SimpleText() const { return simpleText_; }
  void SetSimpleText(const std::string& text) { simpleText_ = text; }

 signals:
  void Clicked();

 protected:
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  std::vector<QLabel*> panels_;
  std::string simpleText_;
};

}  // namespace vestrel
