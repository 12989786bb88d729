#include "app/update_dialog.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <exception>
#include <functional>
#include <mutex>

#include "app/dialog_services.h"
#include "app/message_boxes.h"
#include "platform/datetime.h"
#include "platform/files.h"
#include "platform/program_folder.h"
#include "server/update_check.h"
#include "server/version.h"

namespace morlak {

namespace {

constexpr char kDefaultCaption[] = "WEB Server Update";

QString FromUtf8(const std::string& text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// Where the installer is first proposed: beside the program, unless it is installed where
// its user cannot write (/usr/bin), then the user's downloads folder or home.
std::string InstallerFolder() {
  const std::string program = ExecutableFolder();
  if (IsWritableFolder(program)) return program;
  const std::string downloads = DesktopBaseFolder("XDG_DOWNLOAD_DIR", "Downloads");
  return IsWritableFolder(downloads) ? downloads : DesktopBaseFolder("HOME", "");
}

}  // namespace

// Carries the reports of a check from its worker thread to the dialog. Plain reports
// are queued; the message box and the save dialog are waited for, but never past a
// cancel, so a closing dialog never waits on its own worker.
class UpdateDialogFrontEnd : public UpdateCheckFrontEnd {
 public:
  UpdateDialogFrontEnd(Tfupdate* dialog, unsigned generation)
      : dialog_(dialog), generation_(generation) {}

  const UpdateCheck* check = nullptr;

  // Runs `work` on the dialog's thread unless the check has ended meanwhile.
  void Post(std::function<void(Tfupdate&)> work) {
    QPointer<Tfupdate> dialog = dialog_;
    const unsigned generation = generation_;
    QMetaObject::invokeMethod(
        dialog_,
        [dialog, generation, work = std::move(work)] {
          if (dialog && dialog->generation_ == generation) work(*dialog);
        },
        Qt::QueuedConnection);
  }

  void Begin() override {
    Post([](Tfupdate& d) {
      d.progressList_->clear();
      d.resetBar();
    });
  }
  void Progress(const std::string& text) override {
    Post([text = FromUtf8(text)](Tfupdate& d) { d.addProgressLine(text); });
  }
  void BarText(const std::string& text) override {
    Post([text = FromUtf8(text)](Tfupdate& d) { d.setBarText(text); });
  }
  // Blocks arrive far faster than a window repaints: one queued update at a time,
  // showing the latest count when it runs.
  void BarCount(int64_t received, int64_t size) override {
    bar_->received = received;
    bar_->size = size;
    if (bar_->queued.exchange(true)) return;
    Post([bar = bar_](Tfupdate& d) {
      bar->queued = false;
      d.setBarCount(bar->received, bar->size);
    });
  }
  void ShowMessage(const std::string& text) override {
    const QString message = FromUtf8(text).replace('\r', '\n');
    Ask<bool>(false, [message](Tfupdate& d) {
      ShowInformationMessage(&d, message);
      return true;
    });
  }
  bool ChooseTargetFile(const std::string& proposed, std::string& chosen) override {
    const QString folder = FromUtf8(ExtractFileDir(proposed));
    const QString name = FromUtf8(ExtractFileName(proposed));
    const QString file = Ask<QString>({}, [folder, name](Tfupdate& d) {
      return d.files_->SaveFile(&d, QString(), folder, name);
    });
    chosen = file.toUtf8().toStdString();
    return !file.isEmpty();
  }

 private:
  struct BarState {
    std::atomic<int64_t> received{0}, size{0};
    std::atomic<bool> queued{false};
  };

  template <typename T>
  T Ask(T fallback, std::function<T(Tfupdate&)> ask) {
    struct Answer {
      std::mutex mutex;
      std::condition_variable ready;
      bool answered = false;
      T value;
    };
    auto answer = std::make_shared<Answer>();
    Post([answer, ask = std::move(ask)](Tfupdate& d) {
      T value = ask(d);
      std::lock_guard lock(answer->mutex);
      answer->value = std::move(value);
      answer->answered = true;
      answer->ready.notify_all();
    });
    std::unique_lock lock(answer->mutex);
    while (!answer->answered) {
      if (check->Cancelled()) return fallback;
      answer->ready.wait_for(lock, std::chrono::milliseconds(50));
    }
    return answer->value;
  }

  Tfupdate* dialog_;
  const unsigned generation_;
  std::shared_ptr<BarState> bar_ = std::make_shared<BarState>();
};

Tfupdate::Tfupdate(QWidget* parent, FileChooser* files)
    : QDialog(parent),
      ownFiles_(files ? nullptr : std::make_unique<QtFileChooser>()),
      files_(files ? files : ownFiles_.get()),
      buildNumber_(kBuildNumber) {
  setWindowTitle(kDefaultCaption);
  progressLabel_ = new QLabel("Progress:", this);
  progressList_ = new QListWidget(this);
  progressList_->setObjectName("progressList");
  progressList_->setMinimumSize(440, 220);
  progressBar_ = new QProgressBar(this);
  progressBar_->setObjectName("progressBar");
  progressBar_->setTextVisible(true);
  progressBar_->setAlignment(Qt::AlignCenter);
  closeButton_ = new QPushButton("Close", this);
  closeButton_->setObjectName("closeButton");
  connect(closeButton_, &QPushButton::clicked, this, &QDialog::reject);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(closeButton_);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(progressLabel_);
  layout->addWidget(progressList_);
  layout->addWidget(progressBar_);
  layout->addLayout(buttons);
  // A fixed dialog border: the window keeps the size its contents need.
  layout->setSizeConstraint(QLayout::SetFixedSize);
  resetBar();
}

Tfupdate::~Tfupdate() {
  stopCheck();
}

void Tfupdate::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  started_ = false;
  setWindowTitle(captionText_.isEmpty() ? QString(kDefaultCaption) : captionText_);
  // Once per showing, after the window is up.
  QTimer::singleShot(0, this, [this] {
    if (!started_ && isVisible()) startCheck();
  });
}

void Tfupdate::done(int result) {
  stopCheck();
  QDialog::done(result);
}

void Tfupdate::startCheck() {
  stopCheck();
  started_ = true;
  const unsigned generation = ++generation_;
  UpdateCheckSettings settings;
  settings.host = host_.trimmed().toStdString();
  settings.port = port_;
  settings.buildNumber = buildNumber_;
  settings.programFileName = ExecutableFileName();
  settings.installerFolder = InstallerFolder();
  settings.timeouts = timeouts_;
  auto frontEnd = std::make_shared<UpdateDialogFrontEnd>(this, generation);
  check_ = std::make_shared<UpdateCheck>(std::move(settings), *frontEnd);
  frontEnd->check = check_.get();
  worker_ = std::thread([frontEnd, check = check_, generation] {
    QString error;
    try {
      check->Run();
    } catch (const std::exception& e) {
      error = FromUtf8(e.what());
    }
    frontEnd->Post([error, generation](Tfupdate& d) {
      if (!error.isEmpty()) emit d.errorRaised(error);
      d.finishCheck(generation);
    });
  });
}

void Tfupdate::stopCheck() {
  if (check_) check_->Cancel();
  ++generation_;
  if (worker_.joinable()) worker_.join();
  check_.reset();
}

void Tfupdate::finishCheck(unsigned generation) {
  if (generation != generation_) return;
  // The worker's last act was to queue this call, so it is ending now.
  if (worker_.joinable()) worker_.join();
  check_.reset();
  emit checkFinished();
}

void Tfupdate::addProgressLine(const QString& text) {
  progressList_->insertItem(0, FromUtf8(FormatLongTime(Now())) + "> " + text);
}

void Tfupdate::resetBar() {
  progressBar_->setRange(0, 100);
  progressBar_->setValue(0);
  progressBar_->setFormat(QString());
}

void Tfupdate::setBarCount(int64_t received, int64_t size) {
  // The bar counts in int; large files are shown in proportion.
  const int64_t scale = size > INT_MAX ? size / INT_MAX + 1 : 1;
  progressBar_->setRange(0, static_cast<int>(std::max<int64_t>(size / scale, 1)));
  progressBar_->setValue(static_cast<int>(std::min(received, size) / scale));
  progressBar_->setFormat(QString("%1 / %2").arg(received).arg(size));
}

void Tfupdate::setBarText(const QString& text) {
  progressBar_->setFormat(text);
}

}  // namespace morlak
