#include "app/settings/files_and_folders_page.h"

#include <QFileInfo>
#include <QGridLayout>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/dialog_services.h"
#include "app/settings/page_widgets.h"

namespace morlak {

namespace {

constexpr const char* kHtmlFilter = "Html files (*.htm, *.html)|*.htm; *.html|All files (*.*)|*.*";

struct ResponsePageRow {
  const char* label;
  const char* key;
  std::string SettingsValues::*field;
};

const ResponsePageRow kResponsePages[] = {
    {"Response File / file not found:", "filenotfound", &SettingsValues::fileNotFound},
    {"Response File / unauthorized access:", "unauthorized", &SettingsValues::unauthorized},
    {"Response File / login succesfull:", "loginsuccesfull", &SettingsValues::loginSuccesfull},
    {"Response File / logout succesfull:", "logoutsuccesfull", &SettingsValues::logoutSuccesfull},
    {"Response File / failed to login:", "loginfailed", &SettingsValues::loginFailed},
};

}  // namespace

FilesAndFoldersPage::FilesAndFoldersPage(PageContext& context, QWidget* parent)
    : SettingsPage(parent) {
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(Bind(new ListEditor(tr("Default file name to serve (all directories):"), true),
                         "defaultfile", &SettingsValues::defaultFile),
                    1);
  auto* fields = new QWidget(this);
  auto* grid = new QGridLayout(fields);
  grid->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(fields);

  auto addFolder = [&](int row, const QString& label, const char* key,
                       std::string SettingsValues::*field, const QString& title) {
    QPushButton* browse;
    QLineEdit* edit = Bind(AddBrowseField(grid, row, label, key, &browse), key, field);
    connect(browse, &QPushButton::clicked, this, [this, &context, edit, title] {
      const QString chosen = context.files.Folder(this, title, edit->text());
      if (!chosen.isEmpty()) edit->setText(chosen);
    });
    return edit;
  };
  addFolder(0, tr("Anonymous users web directory:"), "homedirectory",
            &SettingsValues::homeDirectory, "Select WWW Directory");
  QLineEdit* templates = addFolder(1, tr("Templates Directory:"), "templatedirectory",
                                   &SettingsValues::templateDirectory, "Select Templates Dir");
  const QString templatesHint = tr("Templates directory holds all the responses defined below");
  templates->setToolTip(templatesHint);
  fields->findChild<QPushButton*>("templatedirectoryBrowse")->setToolTip(templatesHint);

  int row = 2;
  for (const auto& page : kResponsePages) {
    QPushButton* browse;
    QLineEdit* edit =
        Bind(AddBrowseField(grid, row++, tr(page.label), page.key, &browse), page.key, page.field);
    // The page is looked up in the templates folder, so the field keeps only the name.
    connect(browse, &QPushButton::clicked, this, [this, &context, edit, templates] {
      const QString start =
          templates->text().isEmpty() ? edit->text() : templates->text() + "/" + edit->text();
      const QString chosen = context.files.OpenFile(this, kHtmlFilter, start);
      if (!chosen.isEmpty()) edit->setText(QFileInfo(chosen).fileName());
    });
  }
}

}  // namespace morlak
