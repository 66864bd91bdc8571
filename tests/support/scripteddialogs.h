#pragma once

#include "core/entry.h"
#include "core/identifier.h"
#include "gui/dialogs.h"

#include <deque>
#include <optional>
#include <string>
#include <vector>

namespace tarnwick::test {

// The window's dialogs answered from a script instead of a person (tests, pictures,
// figures): message boxes take the queued answers in turn, then their default; text
// inputs and the Add dialog take the queued texts, then are cancelled. The text of
// every box shown is kept.
class ScriptedDialogs final : public gui::Dialogs {
public:
    base::Answer messageBox(QWidget*, const base::MessageBox& box) override
    {
        boxes.push_back(box.text);
        if (answers.empty())
            return box.defaultAnswer;
        const base::Answer a = answers.front();
        answers.pop_front();
        return a;
    }
    std::optional<std::string> textInput(QWidget*, const std::string&, const std::string&, const std::string&) override
    {
        if (inputs.empty())
            return std::nullopt;
        std::optional<std::string> text = inputs.front();
        inputs.pop_front();
        return text;
    }
    // As the dialog does, a number that does not validate is refused (its reason kept) and the dialog cancelled.
    std::optional<gui::TypedEntry> addEntry(QWidget*) override
    {
        if (entries.empty())
            return std::nullopt;
        gui::TypedEntry typed = entries.front();
        entries.pop_front();
        core::Entry probe;
        if (std::optional<std::string> refusal = core::setIdentifier(probe, typed.number)) {
            boxes.push_back(*refusal);
            return std::nullopt;
        }
        return typed;
    }
    std::optional<std::string> chooseFile(QWidget*, const gui::FileChoice& choice) override
    {
        chosen.push_back(choice);
        if (files.empty())
            return std::nullopt;
        std::optional<std::string> path = files.front();
        files.pop_front();
        return path;
    }
    void unhandledError(QWidget*, const std::string& text) override { boxes.push_back(text); }

    std::deque<base::Answer> answers;
    std::deque<std::optional<std::string>> inputs;
    std::deque<gui::TypedEntry> entries;
    std::deque<std::optional<std::string>> files;
    std::vector<std::string> boxes;
    std::vector<gui::FileChoice> chosen; // the file dialogs shown
};

} // namespace tarnwick::test
