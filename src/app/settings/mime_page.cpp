#include "app/settings/mime_page.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QSet>
#include <QTableWidget>
#include <QVBoxLayout>

#include "platform/text.h"

namespace morlak {

namespace {

QString Cell(const QTableWidget* grid, int row, int column) {
  const QTableWidgetItem* item = grid->item(row, column);
  return item ? item->text() : QString();
}

}  // namespace

MimePage::MimePage(QWidget* parent) : SettingsPage(parent), grid_(new QTableWidget(0, 2, this)) {
  grid_->setObjectName("mimelist");
  grid_->setHorizontalHeaderLabels({tr("Extension"), tr("Type Def.")});
  grid_->setColumnWidth(0, 75);
  grid_->setColumnWidth(1, 452);
  // The type column takes the grid's width, so the extensions never scroll out of view.
  grid_->horizontalHeader()->setSectionResizeMode(1, QHeaderView::Stretch);
  grid_->verticalHeader()->hide();
  grid_->verticalHeader()->setDefaultSectionSize(grid_->fontMetrics().height() + 6);
  grid_->setSelectionBehavior(QAbstractItemView::SelectRows);

  auto* add = new QPushButton(tr("Add"), this);
  add->setObjectName("mimeAdd");
  auto* remove = new QPushButton(tr("Delete"), this);
  remove->setObjectName("mimeDelete");
  connect(add, &QPushButton::clicked, this, [this] {
    const int row = grid_->rowCount();
    grid_->insertRow(row);
    grid_->setItem(row, 0, new QTableWidgetItem);
    grid_->setItem(row, 1, new QTableWidgetItem);
    grid_->setCurrentCell(row, 0);
    grid_->editItem(grid_->item(row, 0));
  });
  connect(remove, &QPushButton::clicked, this, [this] {
    if (grid_->currentRow() >= 0) grid_->removeRow(grid_->currentRow());
  });

  auto* buttons = new QHBoxLayout;
  buttons->addWidget(add);
  buttons->addWidget(remove);
  buttons->addStretch();
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(grid_, 1);
  layout->addLayout(buttons);
}

void MimePage::Load(const SettingsValues& values) {
  const auto rows = TextToList(values.mimeList);
  grid_->clearContents();
  grid_->setRowCount(static_cast<int>(rows.size()));
  for (int i = 0; i < static_cast<int>(rows.size()); ++i) {
    const std::string& row = rows[static_cast<size_t>(i)];
    const size_t eq = row.find('=');
    const std::string name = eq == std::string::npos ? row : row.substr(0, eq);
    const std::string value = eq == std::string::npos ? std::string() : row.substr(eq + 1);
    grid_->setItem(i, 0, new QTableWidgetItem(QString::fromStdString(LowerCase(name))));
    grid_->setItem(i, 1, new QTableWidgetItem(QString::fromStdString(value)));
  }
}

void MimePage::Apply(SettingsValues& values) const {
  std::vector<std::string> rows;
  for (int i = 0; i < grid_->rowCount(); ++i) {
    const QString key = Cell(grid_, i, 0);
    const QString value = Cell(grid_, i, 1);
    if (key.isEmpty() && value.isEmpty()) continue;  // a row added and left blank
    rows.push_back((key + "=" + value).toStdString());
  }
  values.mimeList = ListToText(rows);
}

QString MimePage::Problem() const {
  QSet<QString> seen;
  for (int i = 0; i < grid_->rowCount(); ++i) {
    const QString key = Cell(grid_, i, 0);
    if (key.isEmpty()) {
      if (!Cell(grid_, i, 1).isEmpty())
        return tr("Mime List: the type \"%1\" has no extension.").arg(Cell(grid_, i, 1));
      continue;
    }
    if (seen.contains(key.toLower()))
      return tr("Mime List: the extension \"%1\" is listed twice.").arg(key);
    seen.insert(key.toLower());
  }
  return {};
}

}  // namespace morlak
