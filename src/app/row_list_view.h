// A multi-column list over a RowListModel: rows alternate white and silver, the selected
// row is yellow, and each header section keeps the width it is given or dragged to.
#pragma once

#include <QTreeView>
#include <vector>

#include "app/row_list_model.h"

namespace morlak {

class RowListView : public QTreeView {
  Q_OBJECT

 public:
  struct Section {
    QString text;
    int width;
  };
  // Section widths are design pixels for a small font (digits about 6 pixels wide); they grow
  // with the desktop's font so the texts they were made for still fit.
  explicit RowListView(const std::vector<Section>& sections, QWidget* parent = nullptr);
  // How much wider than the design font the widget's font is (at least 1).
  static double DesignScale(const QFontMetrics& metrics);
  // The width each section started with.
  const std::vector<int>& DesignWidths() const { return designWidths_; }

  // Refills the list. The selected row stays selected when the row count is unchanged
  // (a counter update), and is cleared otherwise.
  void SetRows(const TStringList& rows);
  RowListModel& Model() { return model_; }
  // The selected row, or -1.
  int SelectedRow() const;
  void SelectRow(int row);

  std::vector<int> ColumnWidths() const;
  // Widths below 1 or above 10000 pixels are taken as damage and keep the current width.
  void SetColumnWidths(const std::vector<int>& widths);

 signals:
  // A header section was clicked (the stores sort; the list only reports the column).
  void SectionClicked(int column);

 private:
  RowListModel model_;
  std::vector<int> designWidths_;
};

}  // namespace morlak
