#include "app/settings/page_tabs.h"

#include <QStyleOptionTab>
#include <QStylePainter>

namespace morlak {

// A tab on the left is drawn turned by a quarter; its size is turned back so the caption
// lies flat.
QSize SideTabBar::tabSizeHint(int index) const {
  QSize size = QTabBar::tabSizeHint(index);
  size.transpose();
  return size;
}

void SideTabBar::paintEvent(QPaintEvent*) {
  QStylePainter painter(this);
  QStyleOptionTab option;
  for (int i = 0; i < count(); ++i) {
    initStyleOption(&option, i);
    painter.drawControl(QStyle::CE_TabBarTabShape, option);
    painter.save();
    QSize size = option.rect.size();
    size.transpose();
    QRect label(QPoint(), size);
    label.moveCenter(option.rect.center());
    option.rect = label;
    const QPoint centre = tabRect(i).center();
    painter.translate(centre);
    painter.rotate(90);
    painter.translate(-centre);
    painter.drawControl(QStyle::CE_TabBarTabLabel, option);
    painter.restore();
  }
}

PageTabs::PageTabs(QWidget* parent) : QTabWidget(parent) {
  setTabBar(new SideTabBar(this));
  setTabPosition(QTabWidget::West);
}

}  // namespace morlak
