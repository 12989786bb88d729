#include "app/settings/security_page.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "app/dialog_services.h"
#include "app/settings/page_widgets.h"
#include "server/self_signed_certificate.h"
#include "server/server_core.h"

namespace morlak {

SecurityPage::SecurityPage(PageContext& context, QWidget* parent) : SettingsPage(parent) {
  auto* layout = new QVBoxLayout(this);
  auto* fields = new QWidget(this);
  auto* grid = new QGridLayout(fields);
  grid->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(fields);

  struct CertificateRow {
    const char* label;
    const char* key;
    std::string SettingsValues::*field;
    QString hint;
  };
  const CertificateRow rows[] = {
      {"Root Certification File:", "certroot", &SettingsValues::certRoot,
       tr("Browse for root certification file")},
      {"Certification File:", "certcert", &SettingsValues::certCert,
       tr("Browse for private certification file")},
      {"Key File:", "certkey", &SettingsValues::certKey, {}},
  };
  int row = 0;
  QLineEdit* fileFields[3];
  for (const auto& certificate : rows) {
    QPushButton* browse;
    QLineEdit* edit =
        Bind(AddBrowseField(grid, row, tr(certificate.label), certificate.key, &browse),
             certificate.key, certificate.field);
    fileFields[row++] = edit;
    browse->setToolTip(certificate.hint);
    connect(browse, &QPushButton::clicked, this, [this, &context, edit] {
      const QString chosen =
          context.files.OpenFile(this, "Certificates (*.pem)|*.pem", edit->text());
      if (!chosen.isEmpty()) edit->setText(chosen);
    });
  }
  grid->addWidget(new QLabel(tr("Password Phrase:"), fields), row, 0);
  grid->addWidget(Bind(new QLineEdit(fields), "certpassword", &SettingsValues::certPassword), row++,
                  1, 1, 2);
  layout->addWidget(
      new QLabel(tr("Certificate subject to verify (leave blank if doesn't matter):"), this));
  layout->addWidget(Bind(new QLineEdit(this), "certsubject", &SettingsValues::certSubject));

  auto* options = new QGridLayout;
  auto* ssl = new QRadioButton(tr("SSL v2 or v3"), this);
  auto* tls = new QRadioButton(tr("TLS v1"), this);
  auto* protocol = protocol_ = new QButtonGroup(this);
  protocol->addButton(ssl);
  protocol->addButton(tls);
  options->addWidget(Bind(ssl, "certssl", &SettingsValues::certSsl), 0, 0);
  options->addWidget(Bind(tls, "certtls", &SettingsValues::certTls), 1, 0);
  options->addWidget(Bind(new QCheckBox(tr("Check Peer Certificate"), this), "certcheckpeer",
                          &SettingsValues::certCheckPeer),
                     0, 1);
  options->addWidget(Bind(new QCheckBox(tr("Require Peer Certificate to be Valid"), this),
                          "certcheckvalid", &SettingsValues::certCheckValid),
                     1, 1);
  options->addWidget(
      Bind(new QCheckBox(tr("HTTP server"), this), "certhttp", &SettingsValues::certHttp), 0, 2);
  options->addWidget(
      Bind(new QCheckBox(tr("HTTPS server"), this), "certhttps", &SettingsValues::certHttps), 1, 2);
  layout->addLayout(options);

  auto* create = new QPushButton(tr("Create self-signed certificate"), this);
  create->setObjectName("createcertificate");
  create->setToolTip(tr("Write a key and a certificate for this machine into the program folder"));
  auto* createRow = new QHBoxLayout;
  createRow->addWidget(create);
  createRow->addStretch();
  layout->addLayout(createRow);
  layout->addStretch();
  connect(create, &QPushButton::clicked, this, [this, &context, fileFields] {
    ServerSettings& settings = context.core.Settings();
    const std::string folder = settings.GetMainPath();
    CertificateResult result = MakeSelfSignedCertificate(settings, folder, false);
    if (result.filesExist) {
      if (!context.prompts.AskYesNo(result.message + "\rReplace them?")) return;
      result = MakeSelfSignedCertificate(settings, folder, true);
    }
    if (!result.ok) {
      context.prompts.ShowError(result.message);
      return;
    }
    // The store points at the new files now; the page's other edits stay as they are.
    fileFields[0]->setText(ToQt(settings.GetCertRoot()));
    fileFields[1]->setText(ToQt(settings.GetCertCert()));
    fileFields[2]->setText(ToQt(settings.GetCertKey()));
    context.prompts.ShowInformation(result.message);
  });
}

}  // namespace morlak

namespace morlak {

void SecurityPage::Load(const SettingsValues& values) {
  protocol_->setExclusive(false);
  SettingsPage::Load(values);
  protocol_->setExclusive(true);
}

}  // namespace morlak
