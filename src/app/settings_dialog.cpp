#include "app/settings_dialog.h"

#include <QDialogButtonBox>
#include <QPushButton>
#include <QShowEvent>
#include <QTabWidget>
#include <QVBoxLayout>

#include "app/data_transfer.h"
#include "app/dialog_services.h"
#include "app/settings/aliases_page.h"
#include "app/settings/banned_page.h"
#include "app/settings/cgi_and_isapi_page.h"
#include "app/settings/export_import_page.h"
#include "app/settings/files_and_folders_page.h"
#include "app/settings/general_page.h"
#include "app/settings/log_page.h"
#include "app/settings/mime_page.h"
#include "app/settings/page_tabs.h"
#include "app/settings/php_page.h"
#include "app/settings/redirect_page.h"
#include "app/settings/security_page.h"
#include "platform/autostart_entry.h"
#include "platform/files.h"
#include "platform/program_process.h"
#include "server/server_core.h"

namespace morlak {

namespace {

FileChooser& ChooserOr(FileChooser* given, std::unique_ptr<QtFileChooser>& own) {
  if (given) return *given;
  own = std::make_unique<QtFileChooser>();
  return *own;
}

DataTransferPrompts& PromptsOr(DataTransferPrompts* given, std::unique_ptr<QtPrompts>& own,
                               QWidget* parent) {
  if (given) return *given;
  own = std::make_unique<QtPrompts>(parent);
  return *own;
}

}  // namespace

Thttpsettings::Thttpsettings(ServerCore& core, QWidget* parent, FileChooser* files,
                             DataTransferPrompts* prompts)
    : QDialog(parent),
      core_(core),
      context_{core, ChooserOr(files, ownFiles_), PromptsOr(prompts, ownPrompts_, this)},
      tabs_(new PageTabs(this)) {
  setWindowTitle(tr("Http Server Settings"));
  setSizeGripEnabled(true);  // long paths: widen the dialog and the fields follow
  QPalette white = palette();
  white.setColor(QPalette::Window, Qt::white);
  setPalette(white);

  auto* exportImport = new ExportImportPage;
  rootAliases_ = new AliasesPage(context_, RootAliasAccess(core));
  domainAliases_ = new AliasesPage(context_, DomainAliasAccess(core));
  const std::pair<SettingsPage*, QString> pages[] = {
      {new GeneralPage, tr("General")},
      {new LogPage(context_), tr("Log")},
      {new FilesAndFoldersPage(context_), tr("Files and Folders")},
      {new MimePage, tr("Mime List")},
      {new PhpPage(context_), tr("Php")},
      {new CgiAndIsapiPage, tr("Cgi and Isapi")},
      {new RedirectPage, tr("Redirect")},
      {new BannedPage, tr("Banned List")},
      {rootAliases_, tr("Root Aliases")},
      {domainAliases_, tr("Domain Aliases")},
      {new SecurityPage(context_), tr("Security")},
      {exportImport, tr("Export/Inport")},
  };
  for (const auto& [page, title] : pages) {
    page->setAutoFillBackground(true);
    tabs_->addTab(page, title);
    pages_.push_back(page);
  }

  auto* buttons = new QDialogButtonBox(this);
  QPushButton* apply = buttons->addButton(tr("Apply"), QDialogButtonBox::AcceptRole);
  apply->setObjectName("apply");
  QPushButton* cancel = buttons->addButton(tr("Cancel"), QDialogButtonBox::RejectRole);
  cancel->setObjectName("cancel");
  connect(apply, &QPushButton::clicked, this, &Thttpsettings::Apply);
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(tabs_, 1);
  layout->addWidget(buttons);

  transfer_ = new DataTransfer(core, context_.files, context_.prompts, this);
  connect(exportImport, &ExportImportPage::ExportClicked, this,
          [this] { transfer_->Export(this); });
  connect(exportImport, &ExportImportPage::ImportClicked, this,
          [this] { transfer_->Import(this); });
  connect(transfer_, &DataTransfer::RestartRequired, this, [this] {
    reject();
    emit RestartRequired();
  });
}

Thttpsettings::~Thttpsettings() {
  if (!transfer_->RestartPending()) KeepGeometry();
  UpdateStartAtLogon();
}

void Thttpsettings::showEvent(QShowEvent* event) {
  if (!event->spontaneous()) {
    if (!geometryShown_) RestoreGeometry();
    LoadPages();
    if (parentWidget()) move(parentWidget()->window()->frameGeometry().center() - rect().center());
  }
  QDialog::showEvent(event);
}

void Thttpsettings::done(int result) {
  KeepGeometry();
  QDialog::done(result);
}

void Thttpsettings::LoadPages() {
  const SettingsValues values = core_.Settings().Get();
  for (SettingsPage* page : pages_) page->Load(values);
}

void Thttpsettings::Apply() {
  for (SettingsPage* page : pages_) {
    const QString problem = page->Problem();
    if (!problem.isEmpty()) {
      tabs_->setCurrentWidget(page);
      context_.prompts.ShowError(FromQt(problem));
      return;
    }
  }
  ServerSettings& settings = core_.Settings();
  SettingsValues values = settings.Get();
  for (const SettingsPage* page : pages_) page->Apply(values);
  settings.Set(values);

  KeepGeometry();
  if (core_.DataFilesFrozen()) {
    context_.prompts.ShowError(
        "The settings apply until Morlak restarts; they are not saved over the imported files.");
  } else {
    const std::string folder = settings.GetMainPath();
    core_.RootAliases().SaveRootAliases(folder);
    core_.DomainAliases().SaveDomainAliases(folder);
    if (!settings.SaveSettings()) context_.prompts.ShowError("Failed to save applied settings.");
  }
  accept();
}

// Taken from the store at the first show, so a dialog made before the settings are loaded
// still opens with the stored geometry.
void Thttpsettings::RestoreGeometry() {
  const SettingsDialogGeometry geometry = core_.Settings().GetDialogGeometry();
  resize(geometry.width, geometry.height);
  move(geometry.left, geometry.top);
  rootAliases_->SetColumnWidths(geometry.rootAliasWidth1, geometry.rootAliasWidth2);
  domainAliases_->SetColumnWidths(geometry.domainAliasWidth1, geometry.domainAliasWidth2);
  geometryShown_ = true;
}

// Until the dialog has been shown the store's geometry is the one to keep.
void Thttpsettings::KeepGeometry() {
  if (!geometryShown_) return;
  SettingsDialogGeometry geometry;
  geometry.top = y();
  geometry.left = x();
  geometry.width = width();
  geometry.height = height();
  geometry.rootAliasWidth1 = rootAliases_->ColumnWidth(0);
  geometry.rootAliasWidth2 = rootAliases_->ColumnWidth(1);
  geometry.domainAliasWidth1 = domainAliases_->ColumnWidth(0);
  geometry.domainAliasWidth2 = domainAliases_->ColumnWidth(1);
  core_.Settings().SetDialogGeometry(geometry);
}

// The entry starts this executable on the same data folder.
void Thttpsettings::UpdateStartAtLogon() {
  if (!core_.Settings().GetStartOnWindows()) {
    RemoveAutostartEntry();  // a failure here is not reported, as it never was
    return;
  }
  std::vector<std::string> args;
  const std::string folder = core_.ProgramFolder();
  if (folder != ExecutableFolder()) args = {"--data-dir", folder};
  if (!WriteAutostartEntry(ExecutablePath(), args))
    context_.prompts.ShowError("Error writing to windows registry (run on startup).");
}

}  // namespace morlak
