#pragma once

#include "base/frontend.h"

#include <optional>
#include <string>

class QWidget;

namespace tarnwick::gui {

// What the Add dialog gives: the typed number and the reference.
struct TypedEntry {
    std::string number;
    std::string reference;
};

// A file to choose: what for (the dialog's title), where the dialog starts, which
// files it lists ("CSV files (*.csv)"), and whether the file is written.
struct FileChoice {
    std::string title;
    std::string start;
    std::string filter;
    bool save = false;
};

// The modal dialogs the window asks a person through. The program shows real ones
// (QtDialogs); tests and pictures answer them from a script of their own.
class Dialogs {
public:
    virtual ~Dialogs() = default;

    virtual base::Answer messageBox(QWidget* parent, const base::MessageBox& box) = 0;
    // None when cancelled.
    virtual std::optional<std::string> textInput(QWidget* parent, const std::string& title, const std::string& prompt,
                                                 const std::string& initial) = 0;
    // The Add dialog, which takes only a number that validates; none when cancelled.
    virtual std::optional<TypedEntry> addEntry(QWidget* parent) = 0;
    // The file dialog; none when cancelled.
    virtual std::optional<std::string> chooseFile(QWidget* parent, const FileChoice& choice) = 0;
    // The box of an error that escaped a handler ("Unhandled Exception"); the process ends after it.
    virtual void unhandledError(QWidget* parent, const std::string& text) = 0;
};

// The dialogs of the toolkit.
class QtDialogs final : public Dialogs {
public:
    base::Answer messageBox(QWidget* parent, const base::MessageBox& box) override;
    std::optional<std::string> textInput(QWidget* parent, const std::string& title, const std::string& prompt,
                                         const std::string& initial) override;
    std::optional<TypedEntry> addEntry(QWidget* parent) override;
    std::optional<std::string> chooseFile(QWidget* parent, const FileChoice& choice) override;
    void unhandledError(QWidget* parent, const std::string& text) override;
};

} // namespace tarnwick::gui
