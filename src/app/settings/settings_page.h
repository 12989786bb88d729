// One page of the settings dialog: it shows the values it edits and writes them back on
// Apply. Every control that edits a setting is named after the setting's key, and simple
// controls are bound to their setting so Load and Apply copy them without per-page code.
#pragma once

#include <QString>
#include <QWidget>
#include <variant>
#include <vector>

#include "stores/server_settings.h"

class QAbstractButton;
class QLineEdit;

namespace morlak {

class ServerCore;
class FileChooser;
class DataTransferPrompts;
class NumberEdit;
class ListEditor;

// What the pages work with: the core's stores and the desktop services.
struct PageContext {
  ServerCore& core;
  FileChooser& files;
  DataTransferPrompts& prompts;
};

class SettingsPage : public QWidget {
 public:
  explicit SettingsPage(QWidget* parent = nullptr) : QWidget(parent) {}

  // Sets every bound control from its setting.
  virtual void Load(const SettingsValues& values);
  // Copies every bound control into its setting: texts as typed, numbers as their value.
  virtual void Apply(SettingsValues& values) const;
  // Why Apply must not take the page's values as they are; empty when it may.
  virtual QString Problem() const { return {}; }

 protected:
  // Names the control after `key` and binds it to `field`.
  QLineEdit* Bind(QLineEdit* edit, const char* key, std::string SettingsValues::*field);
  NumberEdit* Bind(NumberEdit* edit, const char* key, int32_t SettingsValues::*field);
  QAbstractButton* Bind(QAbstractButton* box, const char* key, bool SettingsValues::*field);
  ListEditor* Bind(ListEditor* list, const char* key, std::string SettingsValues::*field);

 private:
  struct TextBinding {
    QLineEdit* edit;
    std::string SettingsValues::*field;
  };
  struct NumberBinding {
    NumberEdit* edit;
    int32_t SettingsValues::*field;
  };
  struct FlagBinding {
    QAbstractButton* box;
    bool SettingsValues::*field;
  };
  struct ListBinding {
    ListEditor* list;
    std::string SettingsValues::*field;
  };
  std::vector<std::variant<TextBinding, NumberBinding, FlagBinding, ListBinding>> bindings_;
};

}  // namespace morlak
