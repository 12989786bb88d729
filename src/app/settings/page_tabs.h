// The settings dialog's page tabs: a column on the left whose captions read horizontally,
// so all twelve captions show in full at the dialog's width.
#pragma once

#include <QTabBar>
#include <QTabWidget>

namespace morlak {

class SideTabBar : public QTabBar {
  Q_OBJECT
 public:
  using QTabBar::QTabBar;

 protected:
  QSize tabSizeHint(int index) const override;
  void paintEvent(QPaintEvent* event) override;
};

class PageTabs : public QTabWidget {
  Q_OBJECT
 public:
  explicit PageTabs(QWidget* parent = nullptr);
};

}  // namespace morlak
