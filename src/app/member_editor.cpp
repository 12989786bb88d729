#include "app/member_editor.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QStandardPaths>
#include <QToolButton>

namespace morlak {

Thttpclienteditor::Thttpclienteditor(QWidget* parent)
    : QDialog(parent),
      userName_(new QLineEdit(this)),
      password_(new QLineEdit(this)),
      home_(new QLineEdit(this)) {
  setWindowTitle(tr("Http Client Editor"));
  QPalette white = palette();
  white.setColor(QPalette::Window, Qt::white);
  setPalette(white);
  userName_->setObjectName("username");
  password_->setObjectName("password");
  home_->setObjectName("homedirectory");

  auto* browse = new QPushButton(tr("Browse"), this);
  browse->setObjectName("browse");
  auto* buttons = new QDialogButtonBox(this);
  QPushButton* apply = buttons->addButton(tr("Apply"), QDialogButtonBox::AcceptRole);
  apply->setObjectName("apply");
  QPushButton* cancel = buttons->addButton(tr("Cancel"), QDialogButtonBox::RejectRole);
  cancel->setObjectName("cancel");

  auto* grid = new QGridLayout(this);
  grid->addWidget(new QLabel(tr("User name:"), this), 0, 0, 1, 2);
  grid->addWidget(userName_, 1, 0, 1, 2);
  grid->addWidget(new QLabel(tr("Password:"), this), 2, 0, 1, 2);
  grid->addWidget(password_, 3, 0, 1, 2);
  grid->addWidget(new QLabel(tr("Home directory:"), this), 4, 0, 1, 2);
  grid->addWidget(home_, 5, 0);
  grid->addWidget(browse, 5, 1);
  grid->addWidget(buttons, 6, 0, 1, 2);
  // A fixed border, at least the designed client area.
  setFixedSize(sizeHint().expandedTo(QSize(400, 184)));

  PickFolder = [](QWidget* owner, const QString& homeText) {
    HomeFolderPicker picker(owner, homeText);
    return picker.exec() == QDialog::Accepted ? picker.ChosenFolder() : QString();
  };
  connect(browse, &QPushButton::clicked, this, [this] {
    const QString chosen = PickFolder(this, home_->text());
    if (!chosen.isEmpty()) home_->setText(chosen);
  });
  connect(apply, &QPushButton::clicked, this, [this] {
    UserName = userName_->text().toStdString();
    Password = password_->text().toStdString();
    HomeDirectory = home_->text().toStdString();
    Applied = true;
    accept();
  });
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
}

void Thttpclienteditor::showEvent(QShowEvent* event) {
  if (!event->spontaneous()) {
    Applied = false;
    userName_->setText(QString::fromStdString(UserName));
    password_->setText(QString::fromStdString(Password));
    home_->setText(QString::fromStdString(HomeDirectory));
    userName_->setFocus();
    if (parentWidget()) move(parentWidget()->window()->frameGeometry().center() - rect().center());
  }
  QDialog::showEvent(event);
}

HomeFolderPicker::HomeFolderPicker(QWidget* parent, const QString& homeText)
    : QFileDialog(parent, tr("Select home folder")) {
  setOption(QFileDialog::DontUseNativeDialog);
  setOption(QFileDialog::ShowDirsOnly);
  setOption(QFileDialog::ReadOnly);
  setFileMode(QFileDialog::Directory);
  if (!homeText.isEmpty() && QFileInfo(homeText).isDir()) {
    root_ = QDir(homeText).absolutePath();
    setDirectory(root_);
    setSidebarUrls({QUrl::fromLocalFile(root_)});
    connect(this, &QFileDialog::directoryEntered, this, [this](const QString& folder) {
      if (!InsideRoot(folder)) setDirectory(root_);
    });
  } else {
    // A desktop folder need not exist on this platform; the home folder stands in for it.
    const QString desktop = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
    setDirectory(QFileInfo(desktop).isDir() ? desktop : QDir::homePath());
  }
  if (auto* newFolder = findChild<QToolButton*>("newFolderButton")) newFolder->hide();
}

QString HomeFolderPicker::ChosenFolder() const {
  const QStringList chosen = selectedFiles();
  return chosen.isEmpty() ? QString() : chosen.first();
}

bool HomeFolderPicker::InsideRoot(const QString& path) const {
  if (root_.isEmpty()) return true;
  const QString folder = QDir(path).absolutePath();
  return folder == root_ || folder.startsWith(root_ == "/" ? root_ : root_ + "/");
}

void HomeFolderPicker::accept() {
  // A folder outside the root (typed into the name box) sends the picker back to the root.
  if (!InsideRoot(ChosenFolder())) {
    setDirectory(root_);
    return;
  }
  QFileDialog::accept();
}

}  // namespace morlak
