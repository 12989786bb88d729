// Answers the questions of export and import from a script and records every text shown.
#pragma once

#include <deque>
#include <string>
#include <vector>

#include "server/data_export_import.h"

namespace morlak::test_support {

class ScriptedPrompts : public DataTransferPrompts {
 public:
  // Answers given in order; a question beyond them is answered No and recorded as such.
  std::deque<bool> answers;
  std::vector<std::string> questions, information, errors;

  bool AskYesNo(const std::string& question) override {
    questions.push_back(question);
    if (answers.empty()) return false;
    const bool answer = answers.front();
    answers.pop_front();
    return answer;
  }
  void ShowInformation(const std::string& text) override { information.push_back(text); }
  void ShowError(const std::string& text) override { errors.push_back(text); }
};

}  // namespace morlak::test_support
