#include "app/settings/php_page.h"

#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/dialog_services.h"
#include "app/settings/page_widgets.h"

namespace morlak {

PhpPage::PhpPage(PageContext& context, QWidget* parent) : SettingsPage(parent) {
  auto* layout = new QVBoxLayout(this);
  auto* fields = new QWidget(this);
  auto* grid = new QGridLayout(fields);
  grid->setContentsMargins(0, 0, 0, 0);
  QPushButton* browseCompiler;
  QLineEdit* compiler = Bind(AddBrowseField(grid, 0, tr("PHP Compiler (can be cgi or dll):"),
                                            "phpcompiler", &browseCompiler),
                             "phpcompiler", &SettingsValues::phpCompiler);
  QPushButton* browseIni;
  QLineEdit* iniPath = Bind(AddBrowseField(grid, 1, tr("PHP ini path:"), "phpinipath", &browseIni),
                            "phpinipath", &SettingsValues::phpIniPath);
  layout->addWidget(fields);
  layout->addWidget(Bind(new ListEditor(tr("PHP Extensions:"), true), "phpextensions",
                         &SettingsValues::phpExtensions),
                    1);
  auto* note = new QLabel(tr("Note! Depending on PHP compiler type, you must also enable either "
                             "CGI ot ISAPI DLL extensions from the next tab."),
                          this);
  note->setWordWrap(true);
  layout->addWidget(note);

  // Linux programs have no extension, so the described two filters gain "All files".
  connect(browseCompiler, &QPushButton::clicked, this, [this, &context, compiler] {
    const QString chosen = context.files.OpenFile(
        this, "CGI Application (*.exe)|*.exe|ISAPI Library (*.dll)|*.dll|All files (*)|*",
        compiler->text());
    if (!chosen.isEmpty()) compiler->setText(chosen);
  });
  // The field gets the folder of the chosen file, without a trailing separator.
  connect(browseIni, &QPushButton::clicked, this, [this, &context, iniPath] {
    const QString chosen =
        context.files.OpenFile(this, "Php ini file (*.ini)|*.ini", iniPath->text());
    if (!chosen.isEmpty()) iniPath->setText(QDir::toNativeSeparators(QFileInfo(chosen).path()));
  });
}

}  // namespace morlak
