// Tfmain's life: start-up, activation, closing, exit, the tray and the layout file.
#include "app/main_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QStatusBar>
#include <QStatusTipEvent>
#include <algorithm>

#include "app/data_transfer.h"
#include "app/message_boxes.h"
#include "platform/files.h"
#include "platform/program_folder.h"
#include "server/version.h"

static void InitAppResources() {
  Q_INIT_RESOURCE(icons);
}

namespace morlak {

namespace {

constexpr int kDesignWidth = 832;
constexpr int kDesignHeight = 304;

// Names the guide's real place (the About tab's "User Guide" opens it).
QString FirstRunMessage(const std::string& guideFile) {
  return "When starting up the morlak for the first time,\r\nit is recommended that you read "
         "the user guide installed into\r\n" +
         QString::fromStdString(guideFile) +
         "\r\nfirst (\"User Guide\" on the About tab opens it). There is description\r\n"
         "available for quick and easy startup.";
}

std::vector<int> ToVector(const WindowLayout::Widths& widths) {
  return {widths.begin(), widths.end()};
}

WindowLayout::Widths ToWidths(const std::vector<int>& widths) {
  WindowLayout::Widths out{};
  for (size_t i = 0; i < out.size() && i < widths.size(); ++i) out[i] = widths[i];
  return out;
}

}  // namespace

Tfmain::Tfmain(CoreOptions options, std::optional<bool> startListeners) {
  InitAppResources();
  setWindowTitle("Morlak");
  setWindowIcon(QIcon(":/icons/morlak.svg"));
  setObjectName("Tfmain");
  front_ = std::make_unique<QtFrontEnd>(*this);
  core_ = std::make_unique<ServerCore>(*front_, std::move(options));

  tabs_ = new QTabWidget;
  tabs_->setTabPosition(QTabWidget::South);
  tabs_->addTab(BuildLogTab(), "System Log");
  tabs_->addTab(BuildServerTab(), "Http Server");
  tabs_->addTab(BuildActiveTab(), "Active Users");
  tabs_->addTab(BuildMonitorTab(), "File Monitoring");
  tabs_->addTab(BuildAboutTab(), "About..");
  setCentralWidget(tabs_);
  connect(tabs_, &QTabWidget::currentChanged, this, [this](int tab) {
    if (tab == kActiveTab && activeUsersStale_) RefreshActiveUserList();
  });
  BuildStatusBar();
  const double scale = RowListView::DesignScale(fontMetrics());
  resize(static_cast<int>(kDesignWidth * scale), kDesignHeight);

  connect(&tray_, &TrayIcon::RestoreRequested, this, &Tfmain::RestoreFromTray);
  connect(&tray_, &TrayIcon::StartRequested, this, &Tfmain::StartServers);
  connect(&tray_, &TrayIcon::StopRequested, this, &Tfmain::StopServers);
  connect(&tray_, &TrayIcon::ExitRequested, this, &Tfmain::close);
  tray_.SetVisible(true);

  FormCreate(startListeners);
  clientEditor_ = std::make_unique<Thttpclienteditor>(this);
  settings_ = std::make_unique<Thttpsettings>(*core_, this);
  // Stopping from the GUI thread must keep serving the connection threads' calls.
  settings_->Transfer().SetListenerStop([this] { StopServers(); });
  // Queued: the import's message boxes and the dialog close before the window does.
  connect(settings_.get(), &Thttpsettings::RestartRequired, this, &Tfmain::EndAfterImport,
          Qt::QueuedConnection);
  update_ = std::make_unique<Tfupdate>(this);
  // A build or size line that is not a number ends the check on the error display.
  connect(update_.get(), &Tfupdate::errorRaised, this, &Tfmain::ShowException);
  timer1_.setInterval(2000);
  connect(&timer1_, &QTimer::timeout, this, &Tfmain::Timer1Timer);
  timer1_.start();
}

void Tfmain::FormCreate(std::optional<bool> startListeners) {
  logView_->Clear();
  WindowLayout layout = CurrentLayout();
  const std::string layoutFile = core_->ProgramFolder() + WindowLayout::kFileName;
  firstRun_ = !ReadWindowLayout(layoutFile, layout);
  if (!firstRun_) RestoreLayout(layout);

  versionLabel_->setText(QString("r%1.%2.%3 (build %4)")
                             .arg(kVersionMajor)
                             .arg(kVersionMinor)
                             .arg(kVersionRelease)
                             .arg(core_->BuildNumber));
  if (auto stamp = FileModTime(QCoreApplication::applicationFilePath().toStdString()))
    dateLabel_->setText(
        QString::fromStdString(FormatShortDate(*stamp) + " " + FormatLongTime(*stamp)));
  // Stores, branding, statistics, settings and aliases load in start-up order; the
  // refills and log lines run here at once, since this is the GUI thread.
  core_->Startup(startListeners);
  ApplyBranding();
}

void Tfmain::ApplyBranding() {
  const Branding& branding = core_->GetBranding();
  companyLabel_->clear();
  authorLabel_->clear();
  if (!branding.present) return;
  decorativePicture_->hide();
  if (branding.hasText) {
    updateHost_->setText(QString::fromStdString(branding.homepage));
    checkForUpdate_->hide();  // the host box takes its place
    companyLabel_->setText(QString::fromStdString(branding.company));
    authorLabel_->setText(QString::fromStdString(branding.author));
    const QString title = QString::fromStdString(branding.ftpserver);
    QGuiApplication::setApplicationDisplayName(title);
    setWindowTitle(title);
  }
  // A picture the image readers cannot decode is simply not shown.
  QPixmap picture;
  if (!branding.picture.empty() &&
      picture.loadFromData(reinterpret_cast<const uchar*>(branding.picture.data()),
                           static_cast<uint>(branding.picture.size()))) {
    brandPicture_->setPixmap(picture);
    brandPicture_->show();
  }
}

Tfmain::~Tfmain() {
  timer1_.stop();
  update_.reset();
  settings_.reset();
  clientEditor_.reset();
  try {
    front_->RunBlocking([this] { core_->Shutdown(); });
  } catch (const std::exception& e) {
    ShowErrorMessage(this, QString("Exception: ") + e.what());
  }
  if (!WriteWindowLayout(core_->ProgramFolder() + WindowLayout::kFileName, CurrentLayout()))
    ShowErrorMessage(this, "Error writing window layout file");
  core_.reset();
}

void Tfmain::FormActivate() {
  ApplyLogFileSettings();
  if (activatedOnce_) return;
  activatedOnce_ = true;
  if (firstRun_) ShowInformationMessage(this, FirstRunMessage(UserGuide()));
  if (core_->Settings().GetStartMinimized()) MinimizeToTray();
}

void Tfmain::ApplyLogFileSettings() {
  // The line count first: the load that the name starts reads only what is kept.
  core_->LogFile().SetMaxLines(core_->Settings().GetLogToFileLines());
  core_->LogFile().SetFilename(core_->Settings().GetLogFileName());
}

void Tfmain::StartServers() {
  core_->StartServers();
  runningCache_ = ListenersActive();
}

void Tfmain::StopServers() {
  runningCache_ = ListenersActive();
  front_->RunBlocking([this] { core_->StopServers(); });
  runningCache_ = ListenersActive();
}

void Tfmain::EndAfterImport() {
  endingAfterImport_ = true;
  close();
}

bool Tfmain::ListenersActive() const {
  // During a stop the listener flags change on the helper thread; use what was seen last.
  if (front_->Blocking()) return runningCache_;
  return core_->IdHTTPServer1.Active() || core_->IdHTTPServer2.Active();
}

void Tfmain::closeEvent(QCloseEvent* event) {
  RestoreFromTray();
  // Cancel (also Escape) keeps the window as it is; No sends it back to the tray when the
  // program starts minimized.
  const Answer answer = endingAfterImport_ || core_->Settings().GetNoCloseConfirmation()
                            ? Answer::Yes
                            : AskYesNoCancel(this, "Are you sure to exit Morlak?");
  if (answer == Answer::Yes) {
    event->accept();
    emit ExitConfirmed();
    return;
  }
  if (answer == Answer::No && core_->Settings().GetStartMinimized()) MinimizeToTray();
  event->ignore();
}

void Tfmain::MinimizeToTray() {
  // Without a notification area the window stays reachable on the taskbar.
  if (QSystemTrayIcon::isSystemTrayAvailable())
    hide();
  else
    showMinimized();
}

void Tfmain::RestoreFromTray() {
  if (isHidden() || isMinimized()) {
    showNormal();
    activateWindow();
    raise();
  }
}

void Tfmain::changeEvent(QEvent* event) {
  QMainWindow::changeEvent(event);
  if (event->type() == QEvent::WindowStateChange && isMinimized() &&
      QSystemTrayIcon::isSystemTrayAvailable())
    QTimer::singleShot(0, this, &QWidget::hide);
}

bool Tfmain::event(QEvent* event) {
  switch (event->type()) {
    case QEvent::WindowActivate:
      FormActivate();
      break;
    case QEvent::Show:
      // Some desktops never activate a new window; the first-run work must not wait for it.
      if (!activatedOnce_) QTimer::singleShot(0, this, &Tfmain::FormActivate);
      break;
    case QEvent::StatusTip: {
      // Hints go to the third panel, never as pop-ups; leaving a control keeps the text.
      const QString tip = static_cast<QStatusTipEvent*>(event)->tip();
      if (!tip.isEmpty()) messagePanel_->setText(tip);
      return true;
    }
    default:
      break;
  }
  return QMainWindow::event(event);
}

void Tfmain::ShowException(const QString& message) {
  messagePanel_->setText("Exception: " + message);
}

void Tfmain::ShowMessage(const std::string& text) {
  ShowErrorMessage(this, QString::fromStdString(text));
}

WindowLayout Tfmain::CurrentLayout() const {
  WindowLayout layout;
  layout.left = x();
  layout.top = y();
  layout.width = width();
  layout.height = height();
  layout.tabIndex = tabs_->currentIndex();
  layout.memberWidths = ToWidths(memberList_->ColumnWidths());
  layout.activeWidths = ToWidths(activeList_->ColumnWidths());
  layout.monitorWidths = ToWidths(monitorList_->ColumnWidths());
  return layout;
}

void Tfmain::RestoreLayout(const WindowLayout& layout) {
  // A damaged file must still give a usable window on a screen that exists.
  const QScreen* screen = QGuiApplication::primaryScreen();
  const QRect available = screen ? screen->availableGeometry() : QRect(0, 0, 1024, 768);
  const QSize minimum = minimumSizeHint();
  const int minW = std::max(minimum.width(), 200), minH = std::max(minimum.height(), 150);
  const int w = std::clamp(layout.width, minW, std::max(minW, available.width()));
  const int h = std::clamp(layout.height, minH, std::max(minH, available.height()));
  resize(w, h);
  const int left = std::clamp(layout.left, -100000, 100000);
  const int top = std::clamp(layout.top, -100000, 100000);
  const QRect wanted(left, top, w, h);
  bool visible = false;
  for (const QScreen* s : QGuiApplication::screens()) {
    const QRect shown = s->availableGeometry().intersected(wanted);
    visible = visible || (shown.width() >= 100 && shown.height() >= 50);
  }
  if (visible)
    move(left, top);
  else
    move(available.center() - QPoint(w / 2, h / 2));
  if (layout.tabIndex >= 0 && layout.tabIndex < tabs_->count())
    tabs_->setCurrentIndex(layout.tabIndex);
  memberList_->SetColumnWidths(ToVector(layout.memberWidths));
  activeList_->SetColumnWidths(ToVector(layout.activeWidths));
  monitorList_->SetColumnWidths(ToVector(layout.monitorWidths));
}

}  // namespace morlak
