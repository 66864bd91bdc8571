#include "gui/configdialog.h"

#include "base/settings.h"
#include "gui/textconv.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFontDatabase>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

namespace tarnwick::gui {

namespace {

QString label(std::string_view text)
{
    return fromBytes(text);
}

QLineEdit* lineEdit(const std::string& value, QWidget* parent)
{
    auto* edit = new QLineEdit(fromBytes(value), parent);
    edit->setMinimumWidth(320);
    return edit;
}

// OK, Cancel and (when `help` is set) Help.
QDialogButtonBox* buttons(QDialog* dialog, const std::function<void()>& help)
{
    auto* box = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, dialog);
    if (help) {
        box->addButton(QDialogButtonBox::Help);
        QObject::connect(box, &QDialogButtonBox::helpRequested, dialog, [help] { help(); });
    }
    QObject::connect(box, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
    QObject::connect(box, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    return box;
}

} // namespace

ConfigDialog::ConfigDialog(base::AppSettings& settings, base::FrontEnd& frontEnd, std::function<void()> help,
                           QWidget* parent, rules::RulesFile* rules)
    : QDialog(parent), m_settings(settings), m_frontEnd(frontEnd), m_help(std::move(help)),
      m_state(app::openConfiguration(settings)), m_rules(rules)
{
    setWindowTitle(fromBytes(app::k_configureTitle));
    const app::ConfigValues& v = m_state.values;
    m_org = lineEdit(v.orgName, this);
    m_smtp = lineEdit(v.smtpServer, this);
    m_return = lineEdit(v.returnAddress, this);
    m_addresses = new QComboBox(this);
    auto* add = new QPushButton(label(app::k_addAddressButton), this);
    auto* del = new QPushButton(label(app::k_deleteAddressButton), this);
    auto* advancedButton = new QPushButton(this);
    m_shortcuts = lineEdit(v.shortcutFolder, this);
    m_install = lineEdit(v.install, this);
    m_logDir = lineEdit(v.logDir, this);
    m_reportDir = lineEdit(v.reportDir, this);
    m_logDir->setEnabled(!m_state.logDirLocked);

    auto* addressRow = new QHBoxLayout;
    addressRow->addWidget(m_addresses, 1);
    addressRow->addWidget(add);
    addressRow->addWidget(del);

    m_fields = {{app::ConfigField::OrgName, m_org},           {app::ConfigField::SmtpServer, m_smtp},
                {app::ConfigField::ReturnAddress, m_return},  {app::ConfigField::NotifyAddresses, m_addresses},
                {app::ConfigField::Advanced, advancedButton}, {app::ConfigField::ShortcutFolder, m_shortcuts},
                {app::ConfigField::Install, m_install},       {app::ConfigField::LogDir, m_logDir},
                {app::ConfigField::ReportDir, m_reportDir}};

    auto* form = new QFormLayout;
    QWidget* previous = nullptr;
    for (const app::FieldLabel& f : app::configurationLabels()) {
        QWidget* w = m_fields.at(f.field);
        if (f.field == app::ConfigField::Advanced) {
            advancedButton->setText(label(f.label));
            form->addRow(QString(), advancedButton);
        } else if (f.field == app::ConfigField::NotifyAddresses) {
            form->addRow(label(f.label), addressRow);
        } else {
            form->addRow(label(f.label), w);
        }
        if (previous)
            setTabOrder(previous, w);
        previous = w;
        if (f.field == app::ConfigField::NotifyAddresses) {
            setTabOrder(m_addresses, add);
            setTabOrder(add, del);
            previous = del;
        }
    }
    // the mnemonic of a label focuses its field; the address row's label focuses the list
    if (auto* l = qobject_cast<QLabel*>(form->labelForField(addressRow)))
        l->setBuddy(m_addresses);

    // off until the user agrees; the text says exactly what the reports hold
    m_usageReports = new QCheckBox(this);
    m_usageReports->setChecked(v.sendUsageReports);
    auto* usageText = new QLabel(label(app::k_usageReportsLabel), this);
    usageText->setWordWrap(true);
    usageText->setBuddy(m_usageReports);
    auto* usageRow = new QHBoxLayout;
    usageRow->addWidget(m_usageReports, 0, Qt::AlignTop);
    usageRow->addWidget(usageText, 1);
    setTabOrder(previous, m_usageReports);

    QLayout* office = officeSection();
    setTabOrder(m_usageReports, m_rulesChoice);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addLayout(office);
    layout->addLayout(usageRow);
    layout->addWidget(buttons(this, m_help));

    refreshAddresses(v.notifyAddresses.empty() ? -1 : 0);
    connect(add, &QPushButton::clicked, this, &ConfigDialog::addAddress);
    connect(del, &QPushButton::clicked, this, &ConfigDialog::deleteAddress);
    connect(advancedButton, &QPushButton::clicked, this, &ConfigDialog::advanced);
}

// The office's rules, key, pace and CA file, and what happens to the e-mail an update queues.
QLayout* ConfigDialog::officeSection()
{
    namespace l = app::officelabels;
    const app::ConfigValues& v = m_state.values;
    m_rulesChoice = new QComboBox(this);
    fillRulesChoice();
    connect(m_logDir, &QLineEdit::editingFinished, this, &ConfigDialog::logDirEdited);
    m_apiKey = lineEdit(v.apiKey, this);
    m_apiKey->setEchoMode(QLineEdit::Password);
    m_requestInterval = new QSpinBox(this);
    m_requestInterval->setRange(0, 120000);
    m_requestInterval->setSingleStep(100);
    m_requestInterval->setSuffix(label(l::RequestIntervalUnit));
    m_requestInterval->setValue(v.requestIntervalMs);
    m_caFile = lineEdit(v.caFile, this);
    m_caFile->setPlaceholderText(label(l::CaFileNote));
    auto* browse = new QPushButton(label(app::officelabels::Browse), this);
    auto* caRow = new QHBoxLayout;
    caRow->addWidget(m_caFile, 1);
    caRow->addWidget(browse);
    connect(browse, &QPushButton::clicked, this, &ConfigDialog::chooseCaFile);

    auto* officeGroup = new QGroupBox(label(l::Group), this);
    auto* officeForm = new QFormLayout(officeGroup);
    officeForm->addRow(label(l::Rules), m_rulesChoice);
    officeForm->addRow(label(l::ApiKey), m_apiKey);
    officeForm->addRow(label(l::RequestInterval), m_requestInterval);
    officeForm->addRow(label(l::CaFile), caRow);
    if (auto* caLabel = qobject_cast<QLabel*>(officeForm->labelForField(caRow)))
        caLabel->setBuddy(m_caFile);

    m_sendAfterUpdate = new QCheckBox(label(l::SendAfterUpdate), this);
    m_sendAfterUpdate->setChecked(v.sendAfterUpdate);
    m_notices = new QComboBox(this);
    m_notices->addItem(label(l::EachNotice));
    m_notices->addItem(label(l::DigestNotice));
    m_notices->setCurrentIndex(v.digestNotices ? 1 : 0);
    auto* mailGroup = new QGroupBox(label(l::MailGroup), this);
    auto* mailForm = new QFormLayout(mailGroup);
    mailForm->addRow(m_sendAfterUpdate);
    mailForm->addRow(label(l::NotifyMode), m_notices);

    m_fields.insert({{app::ConfigField::Rules, m_rulesChoice},
                     {app::ConfigField::ApiKey, m_apiKey},
                     {app::ConfigField::RequestInterval, m_requestInterval},
                     {app::ConfigField::CaFile, m_caFile},
                     {app::ConfigField::SendAfterUpdate, m_sendAfterUpdate},
                     {app::ConfigField::NotifyMode, m_notices}});
    setTabOrder(m_rulesChoice, m_apiKey);
    setTabOrder(m_apiKey, m_requestInterval);
    setTabOrder(m_requestInterval, m_caFile);
    setTabOrder(m_caFile, browse);
    setTabOrder(browse, m_sendAfterUpdate);
    setTabOrder(m_sendAfterUpdate, m_notices);

    auto* row = new QHBoxLayout;
    row->addWidget(officeGroup, 3);
    row->addWidget(mailGroup, 2);
    return row;
}

void ConfigDialog::chooseCaFile()
{
    const QString chosen =
        QFileDialog::getOpenFileName(this, QStringLiteral("Certificate Authorities"), m_caFile->text(),
                                     QStringLiteral("Certificates (*.pem *.crt);;All files (*)"));
    if (!chosen.isEmpty())
        m_caFile->setText(chosen);
}

void ConfigDialog::refreshAddresses(int selected)
{
    m_addresses->clear();
    for (const std::string& a : m_state.values.notifyAddresses)
        m_addresses->addItem(fromBytes(a));
    m_addresses->setCurrentIndex(selected);
}

void ConfigDialog::fillRulesChoice()
{
    namespace l = app::officelabels;
    const app::ConfigValues& v = m_state.values;
    m_rulesChoice->clear();
    m_rulesChoice->addItem(label(l::WebPages), static_cast<int>(app::RulesChoice::WebPages));
    m_rulesChoice->addItem(label(l::XmlRecords), static_cast<int>(app::RulesChoice::XmlRecords));
    if (v.rules == app::RulesChoice::OwnFile)
        m_rulesChoice->addItem(label(l::OwnFile) + QStringLiteral(" (version %1)").arg(fromBytes(v.rulesVersion)),
                               static_cast<int>(app::RulesChoice::OwnFile));
    m_rulesChoice->setCurrentIndex(m_rulesChoice->findData(static_cast<int>(v.rules)));
}

void ConfigDialog::logDirEdited()
{
    const auto shown = static_cast<app::RulesChoice>(m_rulesChoice->currentData().toInt());
    if (app::followLogDir(m_state.values, shown, toBytes(m_logDir->text())))
        fillRulesChoice();
}

app::ConfigValues ConfigDialog::collect() const
{
    app::ConfigValues v = m_state.values;
    v.orgName = toBytes(m_org->text());
    v.smtpServer = toBytes(m_smtp->text());
    v.returnAddress = toBytes(m_return->text());
    v.shortcutFolder = toBytes(m_shortcuts->text());
    v.install = toBytes(m_install->text());
    v.logDir = toBytes(m_logDir->text());
    v.reportDir = toBytes(m_reportDir->text());
    v.sendUsageReports = m_usageReports->isChecked();
    v.rules = static_cast<app::RulesChoice>(m_rulesChoice->currentData().toInt());
    v.apiKey = toBytes(m_apiKey->text());
    v.requestIntervalMs = m_requestInterval->value();
    v.caFile = toBytes(m_caFile->text());
    v.sendAfterUpdate = m_sendAfterUpdate->isChecked();
    v.digestNotices = m_notices->currentIndex() == 1;
    return v;
}

void ConfigDialog::addAddress()
{
    AddAddressDialog dialog(this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    app::AddressList list{m_state.values.notifyAddresses, m_addresses->currentIndex()};
    app::addAddress(list, dialog.address());
    m_state.values.notifyAddresses = list.addresses;
    refreshAddresses(list.selected);
}

void ConfigDialog::deleteAddress()
{
    app::AddressList list{m_state.values.notifyAddresses, m_addresses->currentIndex()};
    app::deleteSelectedAddress(list, m_frontEnd);
    m_state.values.notifyAddresses = list.addresses;
    refreshAddresses(list.selected);
}

void ConfigDialog::advanced()
{
    AdvancedDialog dialog(m_state.values, m_help, this);
    if (dialog.exec() == QDialog::Accepted)
        dialog.store(m_state.values);
}

void ConfigDialog::accept()
{
    const app::ConfigValues v = collect();
    if (std::optional<app::CheckFailure> failure = app::acceptConfiguration(v, m_settings, m_frontEnd, m_rules)) {
        m_fields.at(failure->field)->setFocus();
        return;
    }
    m_state.values = v;
    QDialog::accept();
}

AdvancedDialog::AdvancedDialog(const app::ConfigValues& values, const std::function<void()>& help, QWidget* parent)
    : QDialog(parent)
{
    namespace l = app::advancedlabels;
    setWindowTitle(fromBytes(app::k_advancedTitle));
    m_proxy = lineEdit(values.proxyServer, this);
    m_user = lineEdit(values.userName, this);
    m_password = lineEdit(values.password, this);
    m_password->setEchoMode(QLineEdit::Password);

    auto* proxyGroup = new QGroupBox(label(l::ProxyGroup), this);
    auto* proxyForm = new QFormLayout(proxyGroup);
    proxyForm->addRow(label(l::ProxyServer), m_proxy);
    m_security = new QComboBox(this);
    for (const app::MailSecurityChoice& c : app::mailSecurityChoices())
        m_security->addItem(label(c.name), fromBytes(c.value));
    m_securityMeaning = new QLabel(this);
    m_securityMeaning->setWordWrap(true);
    m_securityMeaning->setMinimumWidth(320);
    // room for the longest meaning, so that the dialog does not jump when the choice changes
    m_securityMeaning->setMinimumHeight(3 * m_securityMeaning->fontMetrics().lineSpacing());
    m_securityMeaning->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    const auto showMeaning = [this](int index) {
        const auto& choices = app::mailSecurityChoices();
        if (index >= 0 && static_cast<size_t>(index) < choices.size())
            m_securityMeaning->setText(label(choices[static_cast<size_t>(index)].meaning));
    };
    connect(m_security, &QComboBox::currentIndexChanged, this, showMeaning);
    m_security->setCurrentIndex(std::max(0, m_security->findData(fromBytes(values.smtpSecurity))));
    showMeaning(m_security->currentIndex());

    auto* authGroup = new QGroupBox(label(l::AuthGroup), this);
    auto* authForm = new QFormLayout(authGroup);
    authForm->addRow(label(l::UserName), m_user);
    authForm->addRow(label(l::Password), m_password);
    authForm->addRow(label(app::k_mailSecurityLabel), m_security);
    authForm->addRow(QString(), m_securityMeaning);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(proxyGroup);
    layout->addWidget(authGroup);
    layout->addWidget(buttons(this, help));
}

void AdvancedDialog::store(app::ConfigValues& values) const
{
    values.proxyServer = toBytes(m_proxy->text());
    values.userName = toBytes(m_user->text());
    values.password = toBytes(m_password->text());
    values.smtpSecurity = toBytes(m_security->currentData().toString());
}

AddAddressDialog::AddAddressDialog(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(fromBytes(app::k_addAddressTitle));
    m_address = lineEdit({}, this);
    auto* form = new QFormLayout;
    form->addRow(label(app::advancedlabels::AddAddress), m_address);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons(this, {}));
}

std::string AddAddressDialog::address() const
{
    return toBytes(m_address->text().trimmed());
}

bool MessagePreviewDialog::confirmSend(const std::string& title, const std::string& message)
{
    QDialog dialog(m_parent);
    dialog.setWindowTitle(fromBytes(title));
    auto* view = new QPlainTextEdit(fromBytes(message), &dialog);
    view->setReadOnly(true);
    view->setLineWrapMode(QPlainTextEdit::NoWrap);
    view->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    view->setMinimumSize(640, 420);
    auto* box = new QDialogButtonBox(QDialogButtonBox::Cancel, &dialog);
    QPushButton* send = box->addButton(QStringLiteral("&Send"), QDialogButtonBox::AcceptRole);
    send->setDefault(true);
    QObject::connect(box, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(box, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    auto* layout = new QVBoxLayout(&dialog);
    layout->addWidget(view);
    layout->addWidget(box);
    return dialog.exec() == QDialog::Accepted;
}

void runConfigurationDialog(base::AppSettings& settings, base::FrontEnd& frontEnd, std::function<void()> help,
                            QWidget* parent, rules::RulesFile* rules)
{
    ConfigDialog dialog(settings, frontEnd, std::move(help), parent, rules);
    // the message comes before the dialog, which then shows the field disabled
    app::announceLogDirLock(app::openConfiguration(settings), frontEnd);
    dialog.exec();
}

} // namespace tarnwick::gui
