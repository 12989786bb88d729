// "Root Aliases" and "Domain Aliases": the switch of a table and an editor that changes the
// live table at once (the request threads see each change with the next request).
#pragma once

#include <functional>
#include <string>

#include "app/settings/settings_page.h"
#include "platform/text.h"

class QLineEdit;
class QTreeWidget;

namespace morlak {

// One alias table as the page sees it.
struct AliasTableAccess {
  QString name;        // object-name prefix: "rootalias" or "domainalias"
  QString enableText;  // the switch's label
  const char* enableKey;
  bool SettingsValues::*enableField;
  QString keyHeader;  // first column: "Alias" or "Host name"
  QString keyLabel;   // "Alias:" or "Host name:"
  QString browseHint, addHint, modifyHint, deleteHint;
  std::function<bool(const std::string&, const std::string&)> add;
  std::function<bool(int, const std::string&, const std::string&)> modify;
  std::function<bool(const std::string&)> remove;
  std::function<bool(int, std::string&, std::string&)> get;
  std::function<TStringList()> list;
};

class AliasesPage : public SettingsPage {
  Q_OBJECT
 public:
  AliasesPage(PageContext& context, AliasTableAccess table, QWidget* parent = nullptr);

  void Load(const SettingsValues& values) override;

  QTreeWidget* List() const { return list_; }
  void SetColumnWidths(int first, int second);
  int ColumnWidth(int column) const;

 private:
  void Refill();
  void Add();
  void Modify();
  void Delete();

  AliasTableAccess table_;
  QTreeWidget* list_;
  QLineEdit* key_;
  QLineEdit* directory_;
};

AliasTableAccess RootAliasAccess(ServerCore& core);
AliasTableAccess DomainAliasAccess(ServerCore& core);

}  // namespace morlak
