#pragma once

#include "app/configuration.h"

#include <QDialog>

#include <functional>
#include <map>

class QComboBox;
class QFormLayout;
class QLabel;
class QLineEdit;
class QPushButton;
class QWidget;

namespace tarnwick::base {
class AppSettings;
class FrontEnd;
} // namespace tarnwick::base

namespace tarnwick::rules {
class RulesFile;
}

namespace tarnwick::gui {

// The configuration dialog over the settings: its fields are those of the table of app/ (configFields), and
// every check and every store is the toolkit-free logic of app/; this only shows them.
class ConfigDialog final : public QDialog {
    Q_OBJECT
public:
    // Message boxes go through `frontEnd`; `help` opens the help page.
    ConfigDialog(base::AppSettings& settings, base::FrontEnd& frontEnd, std::function<void()> help,
                 QWidget* parent = nullptr, rules::RulesFile* rules = nullptr);

    // The control that gets the focus for a field (the button of a field of the advanced dialog).
    QWidget* field(app::ConfigField f) const { return m_fields.at(f); }
    const app::ConfigValues& values() const { return m_state.values; }

    void accept() override;

    // The add-address and advanced dialogs, as the buttons open them.
    void addAddress();
    void deleteAddress();
    void advanced();

private:
    // The control of a field of the kinds only this dialog has; its row goes into `form`.
    void addSpecialField(const app::ConfigFieldInfo& f, QFormLayout* form, QWidget*& previous);
    app::ConfigValues collect() const;
    void refreshAddresses(int selected);
    // The rules choices, the rules file's with its version when the logging directory holds one.
    void fillRulesChoice();
    // A logging directory typed in: an unchanged rules choice shows what that directory holds.
    void logDirEdited();

    base::AppSettings& m_settings;
    base::FrontEnd& m_frontEnd;
    std::function<void()> m_help;
    app::ConfigDialogState m_state;
    rules::RulesFile* m_rules;
    std::map<app::ConfigField, QWidget*> m_fields;
    QComboBox* m_addresses = nullptr;
    QComboBox* m_rulesChoice = nullptr;
};

// The advanced dialog: the proxy and SMTP authentication; the password masked,
// shown and taken as plain text. With `settings` it also signs in at the mail provider's authority beside the mail
// login, with the values as they stand, and keeps the sign-in in `settings` at once; its boxes go through `frontEnd`.
class AdvancedDialog final : public QDialog {
    Q_OBJECT
public:
    AdvancedDialog(const app::ConfigValues& values, const std::function<void()>& help, QWidget* parent = nullptr,
                   base::AppSettings* settings = nullptr, base::FrontEnd* frontEnd = nullptr);
    // Copies the fields into `values`.
    void store(app::ConfigValues& values) const;
    QWidget* field(app::ConfigField f) const { return m_fields.at(f); }
    // The sign-in button and the account line beside it; none without settings.
    QPushButton* signInButton() const { return m_signIn; }
    QLabel* signInAccount() const { return m_account; }

    // Signs in in the browser, off the window's thread, while a modal window waits with Cancel.
    void signIn();

private:
    void addSignInRow(QFormLayout* form);
    // The button and the account line as the fields now stand.
    void refreshSignIn();

    app::ConfigValues m_values;
    base::AppSettings* m_settings;
    base::FrontEnd* m_frontEnd;
    std::map<app::ConfigField, QWidget*> m_fields;
    QPushButton* m_signIn = nullptr;
    QLabel* m_account = nullptr;
};

// The add-address dialog: one field.
class AddAddressDialog final : public QDialog {
    Q_OBJECT
public:
    explicit AddAddressDialog(QWidget* parent = nullptr);
    std::string address() const;

private:
    QLineEdit* m_address;
};

// The Configure sequence's dialog: opens it modal over `parent`; returns when it closes.
// A changed rules choice is read into `rules` at once.
void runConfigurationDialog(base::AppSettings& settings, base::FrontEnd& frontEnd, std::function<void()> help,
                            QWidget* parent, rules::RulesFile* rules = nullptr);

} // namespace tarnwick::gui
