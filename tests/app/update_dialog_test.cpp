// The update dialog running whole checks against the real update server on loopback.
#include "app/update_dialog.h"

#include <gtest/gtest.h>

#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include "app/message_boxes.h"
#include "fake_file_chooser.h"
#include "platform/files.h"
#include "server/update_check.h"
#include "server/version.h"
#include "support/temp_folder.h"
#include "update_server/update_server.h"

namespace morlak {
namespace {

using test_support::TempFolder;

const std::string kInstaller(300000, 'I');

struct Published {
  explicit Published(UpdateServerOptions options = {}) {
    folder.Write("message.txt", "Morlak 2 is out\r\n");
    folder.Write("build.txt", std::to_string(kBuildNumber + 1));
    folder.Write(kInstallerFileName, kInstaller);
    options.folder = folder.Path();
    options.bindIp = "127.0.0.1";
    options.port = 0;
    server = std::make_unique<UpdateServer>(options);
    server->Start();
  }
  TempFolder folder;
  std::unique_ptr<UpdateServer> server;
};

// Answers the boxes a check opens: OK to the message, `target` to the save dialog.
struct Answers {
  explicit Answers(const std::string& target) {
    files.answer = QString::fromStdString(target);
    SetMessageBoxAnswers({[this](MessageKind, const QString& text) {
                            messages << text;
                            return true;
                          },
                          {}});
  }
  ~Answers() { SetMessageBoxAnswers({}); }
  test_support::FakeFileChooser files;
  QStringList messages;
};

// The progress lines oldest first, without their time stamps.
QStringList ProgressLines(Tfupdate& dialog) {
  auto* list = dialog.findChild<QListWidget*>("progressList");
  QStringList lines;
  for (int i = list->count() - 1; i >= 0; --i) {
    const QString line = list->item(i)->text();
    lines << line.mid(line.indexOf("> ") + 2);
  }
  return lines;
}

TEST(UpdateDialog, WholeCheckDownloadsTheInstaller) {
  Published published;
  TempFolder downloads;
  const std::string target = downloads.File(kInstallerFileName);
  Answers answers(target);
  Tfupdate dialog(nullptr, &answers.files);
  dialog.setHost("localhost");  // a name, looked up in /etc/hosts
  dialog.setPort(published.server->Port());
  QSignalSpy finished(&dialog, &Tfupdate::checkFinished);
  dialog.show();
  ASSERT_TRUE(finished.wait(20000));

  const QString where = "localhost:" + QString::number(published.server->Port());
  const QStringList expected = {"Connecting to " + where + "..",
                                "Connected",
                                "Message received.",
                                "Build info request sent",
                                "Reply received",
                                QString("Update available (b%1).").arg(kBuildNumber + 1),
                                "Re-connecting to " + where + "..",
                                "Connected.",
                                "Get file request sent",
                                "Reply received",
                                "File size received",
                                "Downloading file..",
                                "File downloaded succesfully."};
  EXPECT_EQ(ProgressLines(dialog), expected);
  EXPECT_EQ(dialog.windowTitle(), "WEB Server Update");
  EXPECT_EQ(answers.messages, QStringList{"Morlak 2 is out\n"});
  EXPECT_EQ(answers.files.kind, "save");
  EXPECT_EQ(answers.files.start + "/" + answers.files.name,
            QString::fromStdString(ExecutableFolder()) + kInstallerFileName);
  EXPECT_EQ(dialog.findChild<QProgressBar*>("progressBar")->text(), "Download Done.");
  EXPECT_EQ(downloads.Read(kInstallerFileName), kInstaller);
}

TEST(UpdateDialog, CloseStopsADownloadAtOnceAndTheDialogRunsAgain) {
  UpdateServerOptions options;
  options.stallAt = "DATA";
  Published published(options);
  TempFolder downloads;
  Answers answers(downloads.File(kInstallerFileName));
  Tfupdate dialog(nullptr, &answers.files);
  dialog.setHost("127.0.0.1");
  dialog.setPort(published.server->Port());
  dialog.show();
  auto* bar = dialog.findChild<QProgressBar*>("progressBar");
  QTRY_VERIFY_WITH_TIMEOUT(bar->text().endsWith(QString(" / %1").arg(kInstaller.size())), 20000);

  QTest::mouseClick(dialog.findChild<QPushButton*>("closeButton"), Qt::LeftButton);
  EXPECT_FALSE(dialog.isVisible());
  EXPECT_FALSE(dialog.checkRunning());
  EXPECT_TRUE(downloads.Read(kInstallerFileName).empty());
  EXPECT_EQ(ListDirectory(downloads.Path())->size(), 2u);  // "." and ".." only

  // Shown again, the dialog starts a new check with a fresh list.
  QSignalSpy finished(&dialog, &Tfupdate::checkFinished);
  dialog.setTimeouts({2000, 500, 500});
  dialog.show();
  ASSERT_TRUE(finished.wait(20000));
  EXPECT_EQ(ProgressLines(dialog).first(),
            "Connecting to 127.0.0.1:" + QString::number(published.server->Port()) + "..");
  EXPECT_EQ(ProgressLines(dialog).last(), "Error downloading file.");
}

TEST(UpdateDialog, BuildLineThatIsNotANumberReachesTheErrorDisplay) {
  UpdateServerOptions options;
  options.buildLine = "b12";
  Published published(options);
  Answers answers("");
  Tfupdate dialog(nullptr, &answers.files);
  dialog.setHost("127.0.0.1");
  dialog.setPort(published.server->Port());
  QSignalSpy errors(&dialog, &Tfupdate::errorRaised);
  QSignalSpy finished(&dialog, &Tfupdate::checkFinished);
  dialog.show();
  ASSERT_TRUE(finished.wait(20000));
  ASSERT_EQ(errors.count(), 1);
  EXPECT_EQ(errors.first().first().toString(), "'b12' is not a valid integer value");
  EXPECT_EQ(ProgressLines(dialog).last(), "Reply received");
  EXPECT_TRUE(dialog.isVisible());
}

}  // namespace
}  // namespace morlak
