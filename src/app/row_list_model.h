// The table model behind every multi-column list: each store row is one text whose
// columns end with "||" ("alice||secret||/home/alice||"), split here into cells.
#pragma once

#include <QAbstractTableModel>
#include <QStringList>
#include <vector>

#include "platform/text.h"

namespace morlak {

class RowListModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  explicit RowListModel(QStringList headers, QObject* parent = nullptr);

  // Replaces every row (the lists are refilled whole, never edited in place).
  void SetRows(const TStringList& rows);
  QString Cell(int row, int column) const;

  // The columns of one "||" row; text after the last "||" is not a column.
  static QStringList SplitRow(const std::string& row);

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

 private:
  QStringList headers_;
  std::vector<QStringList> rows_;
};

}  // namespace morlak
