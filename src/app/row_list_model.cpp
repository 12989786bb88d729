#include "app/row_list_model.h"

#include <string_view>

namespace morlak {

RowListModel::RowListModel(QStringList headers, QObject* parent)
    : QAbstractTableModel(parent), headers_(std::move(headers)) {}

QStringList RowListModel::SplitRow(const std::string& row) {
  QStringList cells;
  std::string_view rest(row);
  for (size_t end; (end = rest.find("||")) != std::string_view::npos; rest.remove_prefix(end + 2))
    cells.append(QString::fromUtf8(rest.data(), static_cast<qsizetype>(end)));
  return cells;
}

void RowListModel::SetRows(const TStringList& rows) {
  beginResetModel();
  rows_.clear();
  rows_.reserve(rows.lines.size());
  for (const std::string& row : rows.lines) rows_.push_back(SplitRow(row));
  endResetModel();
}

QString RowListModel::Cell(int row, int column) const {
  if (row < 0 || row >= static_cast<int>(rows_.size())) return {};
  return rows_[row].value(column);
}

int RowListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int RowListModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(headers_.size());
}

QVariant RowListModel::data(const QModelIndex& index, int role) const {
  if (role != Qt::DisplayRole || !index.isValid()) return {};
  return Cell(index.row(), index.column());
}

QVariant RowListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (role != Qt::DisplayRole || orientation != Qt::Horizontal) return {};
  return headers_.value(section);
}

}  // namespace morlak
