#pragma once

#include "app/configuration.h"
#include "notify/servicereports.h"

#include <QDialog>

#include <functional>
#include <map>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QLabel;
class QPushButton;
class QSpinBox;
class QWidget;

namespace tarnwick::base {
class AppSettings;
class FrontEnd;
} // namespace tarnwick::base

namespace tarnwick::rules {
class RulesFile;
}

namespace tarnwick::gui {

// The configuration dialog over the settings: every check and every store is the
// toolkit-free logic of app/; this only shows it.
class ConfigDialog final : public QDialog {
    Q_OBJECT
public:
    // Message boxes go through `frontEnd`; `help` opens the help page.
    ConfigDialog(base::AppSettings& settings, base::FrontEnd& frontEnd, std::function<void()> help,
                 QWidget* parent = nullptr, rules::RulesFile* rules = nullptr);

    QWidget* field(app::ConfigField f) const { return m_fields.at(f); }
    QCheckBox* usageReportsBox() const { return m_usageReports; }
    const app::ConfigValues& values() const { return m_state.values; }

    void accept() override;

    // The add-address and advanced dialogs, as the buttons open them.
    void addAddress();
    void deleteAddress();
    void advanced();
    void chooseCaFile();

private:
    app::ConfigValues collect() const;
    void refreshAddresses(int selected);
    QLayout* officeSection();
    // The rules choices, the rules file's with its version when the logging directory holds one.
    void fillRulesChoice();
    // A logging directory typed in: an unchanged rules choice shows what that directory holds.
    void logDirEdited();

    base::AppSettings& m_settings;
    base::FrontEnd& m_frontEnd;
    std::function<void()> m_help;
    app::ConfigDialogState m_state;
    std::map<app::ConfigField, QWidget*> m_fields;
    QLineEdit* m_org;
    QLineEdit* m_smtp;
    QLineEdit* m_return;
    QComboBox* m_addresses;
    QLineEdit* m_shortcuts;
    QLineEdit* m_install;
    QLineEdit* m_logDir;
    QLineEdit* m_reportDir;
    QCheckBox* m_usageReports;
    rules::RulesFile* m_rules;
    QComboBox* m_rulesChoice;
    QLineEdit* m_apiKey;
    QSpinBox* m_requestInterval;
    QLineEdit* m_caFile;
    QCheckBox* m_sendAfterUpdate;
    QComboBox* m_notices;
};

// The advanced dialog: the proxy and SMTP authentication; the password masked,
// shown and taken as plain text.
class AdvancedDialog final : public QDialog {
    Q_OBJECT
public:
    AdvancedDialog(const app::ConfigValues& values, const std::function<void()>& help, QWidget* parent = nullptr);
    // Copies the fields into `values`.
    void store(app::ConfigValues& values) const;
    QLineEdit* passwordField() const { return m_password; }
    QComboBox* securityField() const { return m_security; }

private:
    QLineEdit* m_proxy;
    QLineEdit* m_user;
    QLineEdit* m_password;
    QComboBox* m_security;
    QLabel* m_securityMeaning;
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

// The read-only view of a message before it goes, with Send and Cancel.
class MessagePreviewDialog final : public notify::MessagePreview {
public:
    explicit MessagePreviewDialog(QWidget* parent) : m_parent(parent) {}
    bool confirmSend(const std::string& title, const std::string& message) override;

private:
    QWidget* m_parent;
};

// The Configure sequence's dialog: opens it modal over `parent`; returns when it closes.
// A changed rules choice is read into `rules` at once.
void runConfigurationDialog(base::AppSettings& settings, base::FrontEnd& frontEnd, std::function<void()> help,
                            QWidget* parent, rules::RulesFile* rules = nullptr);

} // namespace tarnwick::gui
