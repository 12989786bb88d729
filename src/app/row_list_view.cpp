#include "app/row_list_view.h"

#include <QHeaderView>
#include <algorithm>

namespace morlak {

namespace {

QStringList HeaderTexts(const std::vector<RowListView::Section>& sections) {
  QStringList texts;
  for (const auto& s : sections) texts.append(s.text);
  return texts;
}

}  // namespace

RowListView::RowListView(const std::vector<Section>& sections, QWidget* parent)
    : QTreeView(parent), model_(HeaderTexts(sections)) {
  setModel(&model_);
  setRootIsDecorated(false);
  setItemsExpandable(false);
  setUniformRowHeights(true);
  setAllColumnsShowFocus(true);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setAlternatingRowColors(true);
  QPalette colours = palette();
  for (auto group : {QPalette::Active, QPalette::Inactive}) {
    colours.setColor(group, QPalette::Base, Qt::white);
    colours.setColor(group, QPalette::AlternateBase, QColor(192, 192, 192));  // silver
    colours.setColor(group, QPalette::Highlight, Qt::yellow);
    colours.setColor(group, QPalette::Text, Qt::black);
    colours.setColor(group, QPalette::HighlightedText, Qt::black);
  }
  setPalette(colours);
  header()->setStretchLastSection(false);
  header()->setSectionsMovable(false);
  header()->setSectionsClickable(true);
  header()->setHighlightSections(false);
  const double scale = DesignScale(fontMetrics());
  for (size_t i = 0; i < sections.size(); ++i) {
    designWidths_.push_back(static_cast<int>(sections[i].width * scale + 0.5));
    header()->resizeSection(static_cast<int>(i), designWidths_.back());
  }
  connect(header(), &QHeaderView::sectionClicked, this, &RowListView::SectionClicked);
}

double RowListView::DesignScale(const QFontMetrics& metrics) {
  return std::max(1.0, metrics.horizontalAdvance("0123456789") / 60.0);
}

void RowListView::SetRows(const TStringList& rows) {
  const int selected = SelectedRow();
  const bool sameCount = static_cast<int>(rows.Count()) == model_.rowCount();
  model_.SetRows(rows);
  if (sameCount && selected >= 0) SelectRow(selected);
}

int RowListView::SelectedRow() const {
  const QModelIndexList rows = selectionModel()->selectedRows();
  return rows.isEmpty() ? -1 : rows.first().row();
}

void RowListView::SelectRow(int row) {
  if (row < 0 || row >= model_.rowCount()) {
    clearSelection();
    return;
  }
  setCurrentIndex(model_.index(row, 0));
}

std::vector<int> RowListView::ColumnWidths() const {
  std::vector<int> widths;
  for (int i = 0; i < model_.columnCount(); ++i) widths.push_back(header()->sectionSize(i));
  return widths;
}

void RowListView::SetColumnWidths(const std::vector<int>& widths) {
  for (int i = 0; i < model_.columnCount() && i < static_cast<int>(widths.size()); ++i)
    if (widths[i] >= 1 && widths[i] <= 10000) header()->resizeSection(i, widths[i]);
}

}  // namespace morlak
