#include "app/settings/log_page.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/dialog_services.h"
#include "app/settings/page_widgets.h"
#include "server/server_core.h"

namespace morlak {

LogPage::LogPage(PageContext& context, QWidget* parent) : SettingsPage(parent) {
  auto* layout = new QVBoxLayout(this);
  auto* top = new QWidget(this);
  auto* grid = new QGridLayout(top);
  grid->setContentsMargins(0, 0, 0, 0);
  grid->addWidget(new QLabel(tr("Max log lines to display:"), top), 0, 0);
  grid->addWidget(Bind(new NumberEdit(top), "maxloglines", &SettingsValues::maxLogLines), 0, 1);
  QPushButton* browse;
  QLineEdit* fileName = AddBrowseField(grid, 1, tr("Log filename:"), "logfilename", &browse);
  Bind(fileName, "logfilename", &SettingsValues::logFileName);
  grid->addWidget(new QLabel(tr("Max log lines in File (0 = no limitation):"), top), 2, 0);
  grid->addWidget(Bind(new NumberEdit(top), "logtofilelines", &SettingsValues::logToFileLines), 2,
                  1);
  layout->addWidget(top);
  layout->addWidget(Bind(new QCheckBox(tr("Log downloads to file"), this), "logtofile",
                         &SettingsValues::logToFile));
  layout->addWidget(Bind(new ListEditor(tr("Do not log files with following extensions:"), true),
                         "logextensions", &SettingsValues::logExtensions),
                    1);

  connect(browse, &QPushButton::clicked, this, [this, &context, fileName] {
    const QString chosen =
        context.files.SaveFile(this, "Log files (*.txt)|*.txt|All files (*.*)|*.*",
                               ToQt(context.core.Settings().GetMainPath()), fileName->text());
    if (!chosen.isEmpty()) fileName->setText(chosen);
  });
}

}  // namespace morlak
