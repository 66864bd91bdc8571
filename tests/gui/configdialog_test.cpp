#include "base/settings.h"
#include "gui/configdialog.h"
#include "notify/emailqueue.h"
#include "platform/files.h"
#include "support/qtapplication.h"
#include "support/scriptedfrontend.h"
#include "support/tempdir.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include <filesystem>

using namespace tarnwick;

namespace {

using test::ensureApplication;

class ConfigDialogTest : public ::testing::Test {
protected:
    ConfigDialogTest() : settings(dir.file("settings.ini")) { ensureApplication(); }
    QLineEdit* edit(gui::ConfigDialog& d, app::ConfigField f) { return qobject_cast<QLineEdit*>(d.field(f)); }

    test::TempDir dir;
    base::AppSettings settings;
    test::ScriptedFrontEnd fe;
};

TEST_F(ConfigDialogTest, AFailedCheckKeepsTheDialogOpenWithTheFocusOnTheField)
{
    gui::ConfigDialog dialog(settings, fe, {});
    dialog.show();
    QTest::keyClicks(edit(dialog, app::ConfigField::OrgName), "Org");
    dialog.accept();
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(dialog.focusWidget(), dialog.field(app::ConfigField::SmtpServer));
    ASSERT_EQ(fe.boxes.size(), 1u);
    EXPECT_EQ(fe.boxes[0].text, "Please enter an SMTP server name. (like mail.example.com)");
    EXPECT_EQ(settings.value(base::setting::OrgName), ""); // nothing stored yet
}

TEST_F(ConfigDialogTest, AcceptedFieldsAreStoredAndTheTabOrderFollowsTheLabels)
{
    settings.setNotifyAddresses({"n@example.test"});
    gui::ConfigDialog dialog(settings, fe, {});
    dialog.show();
    for (auto [f, text] : {std::pair{app::ConfigField::OrgName, "Org"},
                           {app::ConfigField::SmtpServer, "mail.test"},
                           {app::ConfigField::ReturnAddress, "me@test"}}) {
        QTest::keyClicks(edit(dialog, f), text);
    }
    for (auto f : {app::ConfigField::ShortcutFolder, app::ConfigField::Install, app::ConfigField::LogDir,
                   app::ConfigField::ReportDir}) {
        edit(dialog, f)->setText(QString::fromStdString(dir.path()));
    }
    EXPECT_EQ(dialog.field(app::ConfigField::OrgName)->nextInFocusChain(), dialog.field(app::ConfigField::SmtpServer));
    EXPECT_EQ(qobject_cast<QComboBox*>(dialog.field(app::ConfigField::NotifyAddresses))->currentText(),
              "n@example.test");
    auto* usageReports = qobject_cast<QCheckBox*>(dialog.field(app::ConfigField::SendUsageReports));
    EXPECT_FALSE(usageReports->isChecked());
    usageReports->click();
    dialog.accept();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(settings.value(base::setting::ReturnAddress), "me@test");
    EXPECT_TRUE(settings.usageReportsAllowed());
    EXPECT_EQ(settings.value(base::setting::LogDir), dir.path());
    EXPECT_TRUE(std::filesystem::is_directory(dir.file("Tarnwick"))); // for the rules and the help
}

// Tab walks the fields in the order of their labels, each button right after the field it belongs to.
TEST_F(ConfigDialogTest, TabVisitsEveryControlInOrder)
{
    gui::ConfigDialog dialog(settings, fe, {});
    dialog.show();
    QApplication::setActiveWindow(&dialog);
    using F = app::ConfigField;
    const auto name = [&](QWidget* w) -> std::string {
        for (int f = 0; f < static_cast<int>(F::ProxyServer); ++f)
            if (dialog.field(static_cast<F>(f)) == w)
                return std::string(app::fieldInfo(static_cast<F>(f)).label);
        auto* button = qobject_cast<QPushButton*>(w);
        return button ? button->text().toStdString() : "?";
    };
    std::vector<std::string> expected;
    for (const app::ConfigFieldInfo& f : app::configFields()) {
        if (app::isAdvanced(f.section))
            continue;
        expected.emplace_back(f.label);
        if (f.kind == app::WidgetKind::AddressList)
            expected.insert(expected.end(), {"&Add...", "&Delete"});
        if (f.kind == app::WidgetKind::File)
            expected.emplace_back("&Browse...");
    }
    dialog.field(F::OrgName)->setFocus();
    std::vector<std::string> visited{name(QApplication::focusWidget())};
    for (size_t i = 1; i < expected.size(); ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        visited.push_back(name(QApplication::focusWidget()));
    }
    EXPECT_EQ(visited, expected);
}

TEST_F(ConfigDialogTest, PendingEmailDisablesTheLoggingDirectory)
{
    settings.setValue(base::setting::LogDir, dir.path());
    (void)platform::writeFileAtomic(dir.file(notify::k_pendingListName), "Tarnwick_x.tmp\r\n");
    gui::ConfigDialog dialog(settings, fe, {});
    EXPECT_FALSE(dialog.field(app::ConfigField::LogDir)->isEnabled());
    EXPECT_TRUE(dialog.field(app::ConfigField::ReportDir)->isEnabled());
}

TEST_F(ConfigDialogTest, TheAdvancedPasswordIsMaskedAndTakenAsPlainText)
{
    app::ConfigValues values;
    values[app::ConfigField::Password] = "old";
    gui::AdvancedDialog dialog(values, {});
    EXPECT_EQ(dialog.windowTitle(), QString::fromUtf8("Tarnwick\u00AE - Configure (Advanced)"));
    auto* password = qobject_cast<QLineEdit*>(dialog.field(app::ConfigField::Password));
    EXPECT_EQ(password->echoMode(), QLineEdit::Password);
    EXPECT_EQ(password->text(), "old");
    password->setText("n3w:pw");
    // the CA file serves the office's HTTPS and the mail's TLS alike, so it sits with the mail security here
    auto* caFile = qobject_cast<QLineEdit*>(dialog.field(app::ConfigField::CaFile));
    ASSERT_NE(caFile, nullptr);
    caFile->setText("/etc/ssl/office-ca.pem");
    dialog.store(values);
    EXPECT_EQ(values[app::ConfigField::Password], "n3w:pw");
    EXPECT_EQ(values[app::ConfigField::CaFile], "/etc/ssl/office-ca.pem");
}

// The sign-in beside the mail login follows the sign-in method as chosen in the dialog, before any OK, and a
// press forwards to the sign-in's logic (here: its message for the missing client ID).
TEST_F(ConfigDialogTest, TheSignInButtonFollowsTheChosenSignInMethod)
{
    settings.setValue(base::setting::SmtpAuth, "oauth2");
    app::ConfigValues values;
    values[app::ConfigField::SmtpAuth] = "password";
    gui::AdvancedDialog dialog(values, {}, nullptr, &settings, &fe);
    QPushButton* button = dialog.signInButton();
    ASSERT_NE(button, nullptr);
    EXPECT_EQ(button->text(), "Sign &in...");
    EXPECT_FALSE(button->isEnabled());
    EXPECT_FALSE(button->toolTip().isEmpty());
    auto* method = qobject_cast<QComboBox*>(dialog.field(app::ConfigField::SmtpAuth));
    method->setCurrentIndex(method->findData(QStringLiteral("oauth2")));
    EXPECT_TRUE(button->isEnabled());
    EXPECT_EQ(dialog.signInAccount()->text(), "Not signed in.");
    button->click();
    ASSERT_EQ(fe.boxes.size(), 1u);
    EXPECT_NE(fe.boxes[0].text.find("OAuthClientId is empty"), std::string::npos) << fe.boxes[0].text;
}

} // namespace
