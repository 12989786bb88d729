// The widgets of the main window: the five tab pages and the status bar.
#include <QGridLayout>
#include <QHBoxLayout>
#include <QStatusBar>
#include <QVBoxLayout>

#include "app/main_window.h"

namespace morlak {

namespace {

// A tab page: a column of buttons on the left, the content filling the rest.
QWidget* Page(QVBoxLayout*& buttons, QWidget* content) {
  auto* page = new QWidget;
  auto* row = new QHBoxLayout(page);
  row->setContentsMargins(4, 4, 4, 4);
  buttons = new QVBoxLayout;
  buttons->setSpacing(3);
  row->addLayout(buttons);
  row->addWidget(content, 1);
  return page;
}

}  // namespace

QPushButton* Tfmain::AddButton(QLayout* column, const QString& caption, const QString& hint) {
  auto* button = new QPushButton(caption);
  button->setObjectName(caption);
  button->setStatusTip(hint);
  column->addWidget(button);
  return button;
}

QWidget* Tfmain::BuildLogTab() {
  logView_ = new LogView([this] { return core_->Settings().GetMaxLogLines(); });
  logView_->setObjectName("System Log");
  connect(logView_, &LogView::LineShown, this, &Tfmain::ShowLogLine);
  QVBoxLayout* buttons;
  QWidget* page = Page(buttons, logView_);
  connect(AddButton(buttons, "Clear Log", "Clear visible Log"), &QPushButton::clicked, this,
          &Tfmain::ClearLogClick);
  buttons->addStretch();
  return page;
}

QWidget* Tfmain::BuildServerTab() {
  memberList_ = new RowListView({{"Username", 90},
                                 {"Password", 90},
                                 {"Directory", 180},
                                 {"Address", 95},
                                 {"Last time", 95},
                                 {"Last document", 100}});
  memberList_->setObjectName("member list");
  connect(memberList_, &RowListView::SectionClicked, this, &Tfmain::MemberSectionClick);
  QVBoxLayout* b;
  QWidget* page = Page(b, memberList_);
  QPushButton* newClient = AddButton(b, "New Client", "Add new client with personal web folder");
  QPushButton* modifyClient = AddButton(b, "Modify Client", "Modify selected client properties");
  connect(newClient, &QPushButton::clicked, this, &Tfmain::NewClientClick);
  connect(modifyClient, &QPushButton::clicked, this, &Tfmain::ModifyClientClick);
  connect(AddButton(b, "Delete Client", "Delete selected client from list"), &QPushButton::clicked,
          this, &Tfmain::DeleteClientClick);
  b->addSpacing(8);
  QPushButton* settings = AddButton(b, "Settings", "Enter server settings window");
  connect(settings, &QPushButton::clicked, this, &Tfmain::SettingsClick);
  b->addSpacing(8);
  connect(AddButton(b, "Start Server", "Start server"), &QPushButton::clicked, this,
          &Tfmain::StartServers);
  connect(AddButton(b, "Stop Server", "Stop server"), &QPushButton::clicked, this,
          &Tfmain::StopServers);
  b->addStretch();
  return page;
}

QWidget* Tfmain::BuildActiveTab() {
  activeList_ = new RowListView({{"Session", 110},
                                 {"Address", 95},
                                 {"Document", 160},
                                 {"Username", 95},
                                 {"Online", 60},
                                 {"Last time", 95}});
  activeList_->setObjectName("active-user list");
  auto* page = new QWidget;
  auto* row = new QHBoxLayout(page);
  row->setContentsMargins(4, 4, 4, 4);
  row->addWidget(activeList_);
  return page;
}

QWidget* Tfmain::BuildMonitorTab() {
  monitorList_ = new RowListView({{"File", 160},
                                  {"Count", 50},
                                  {"Time", 115},
                                  {"Ip", 100},
                                  {"Avg per day", 135},
                                  {"Today", 50}});
  monitorList_->setObjectName("monitored-file list");
  connect(monitorList_, &RowListView::SectionClicked, this, &Tfmain::MonitorSectionClick);
  QVBoxLayout* b;
  QWidget* page = Page(b, monitorList_);
  connect(AddButton(b, "New File", "Add new file to which downloads you want to monitor"),
          &QPushButton::clicked, this, &Tfmain::NewFileClick);
  connect(AddButton(b, "Delete File", "Delete selected item from monitored files list"),
          &QPushButton::clicked, this, &Tfmain::DeleteFileClick);
  connect(AddButton(b, "Reset", "Reset selected file counter"), &QPushButton::clicked, this,
          &Tfmain::ResetFileClick);
  b->addStretch();
  return page;
}

QWidget* Tfmain::BuildAboutTab() {
  auto* content = new QWidget;
  auto* grid = new QGridLayout(content);
  grid->setContentsMargins(8, 5, 10, 4);
  grid->setHorizontalSpacing(12);
  static const char* const kCaptions[] = {
      "Online:", "Connections:", "Sessions:", "Downloaded:", "Documents:", "Average:"};
  for (int i = 0; i < 6; ++i) {
    auto* caption = new QLabel(kCaptions[i]);
    figures_[i] = new QLabel(i == 0 ? "Stopped" : "0");
    figures_[i]->setObjectName(kCaptions[i]);
    figures_[i]->setTextInteractionFlags(Qt::TextSelectableByMouse);
    grid->addWidget(caption, i, 0);
    grid->addWidget(figures_[i], i, 1);
  }
  versionLabel_ = new QLabel;
  versionLabel_->setObjectName("version");
  dateLabel_ = new QLabel;
  dateLabel_->setObjectName("build date");
  companyLabel_ = new QLabel;
  companyLabel_->setObjectName("company");
  authorLabel_ = new QLabel;
  authorLabel_->setObjectName("author");
  for (QLabel* label : {versionLabel_, dateLabel_, companyLabel_, authorLabel_})
    label->setTextFormat(Qt::PlainText);
  auto* info = new QVBoxLayout;
  info->addWidget(versionLabel_);
  info->addWidget(dateLabel_);
  info->addSpacing(6);
  info->addWidget(companyLabel_);
  info->addWidget(authorLabel_);
  info->addStretch();
  grid->addLayout(info, 0, 2, 7, 1);
  grid->setColumnStretch(2, 1);

  // The decorative picture and the branding picture share the top right corner.
  decorativePicture_ = new QLabel;
  decorativePicture_->setPixmap(QIcon(":/icons/morlak.svg").pixmap(64, 64));
  brandPicture_ = new QLabel;
  brandPicture_->setObjectName("branding picture");
  brandPicture_->hide();
  grid->addWidget(decorativePicture_, 0, 3, 4, 1, Qt::AlignTop | Qt::AlignRight);
  grid->addWidget(brandPicture_, 0, 3, 7, 1, Qt::AlignTop | Qt::AlignRight);

  auto* hostRow = new QHBoxLayout;
  hostRow->setSpacing(6);
  hostRow->addWidget(new QLabel("Update server:"));
  updateHost_ = new QLineEdit("localhost");
  updateHost_->setObjectName("update host");
  updateHost_->setStatusTip("Server to connect for checking updates");
  hostRow->addWidget(updateHost_, 1);
  checkForUpdate_ = AddButton(hostRow, "Check for Update", "Check if there is update available");
  connect(checkForUpdate_, &QPushButton::clicked, this, &Tfmain::CheckForUpdateClick);
  connect(AddButton(hostRow, "Browse", "Open webpage into the browser"), &QPushButton::clicked,
          this, &Tfmain::BrowseClick);
  connect(AddButton(hostRow, "User Guide", "Open the user guide in the browser"),
          &QPushButton::clicked, this, &Tfmain::UserGuideClick);
  grid->setRowStretch(6, 1);
  grid->addLayout(hostRow, 7, 0, 1, 4);
  return content;
}

void Tfmain::BuildStatusBar() {
  runState_ = new QLabel;
  runState_->setObjectName("run state");
  runState_->setAlignment(Qt::AlignCenter);
  runState_->setAutoFillBackground(true);
  runState_->setMinimumWidth(runState_->fontMetrics().horizontalAdvance("HTTP Stopped") + 16);
  clientPanel_ = new QLabel("No clients");
  clientPanel_->setObjectName("clients");
  clientPanel_->setMinimumWidth(clientPanel_->fontMetrics().horizontalAdvance("0000 clients") + 8);
  messagePanel_ = new QLabel;
  messagePanel_->setObjectName("message");
  // Log text is shown as it is, and a long line must not widen the window.
  messagePanel_->setTextFormat(Qt::PlainText);
  messagePanel_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  statusBar()->addWidget(runState_);
  statusBar()->addWidget(clientPanel_);
  statusBar()->addWidget(messagePanel_, 1);
  SetRunState(false);
}

}  // namespace morlak
