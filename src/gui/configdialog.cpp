#include "gui/configdialog.h"

#include "app/mailsignin.h"
#include "base/frontend.h"
#include "base/settings.h"
#include "core/text.h"
#include "gui/textconv.h"
#include "net/oauthflow.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include <algorithm>
#include <atomic>
#include <thread>

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

// A field of the kinds both dialogs have: the control that holds its text and gets the focus, the row around it
// when a button goes beside it, and the line under it that says what the choice means.
struct FieldControl {
    QWidget* control = nullptr;
    QHBoxLayout* row = nullptr;
    QWidget* button = nullptr;
    QLabel* meaning = nullptr;
};

FieldControl makeControl(const app::ConfigFieldInfo& f, const std::string& text, QWidget* parent)
{
    using app::WidgetKind;
    FieldControl c;
    switch (f.kind) {
    case WidgetKind::Text:
    case WidgetKind::Secret:
    case WidgetKind::File: {
        QLineEdit* edit = lineEdit(text, parent);
        if (f.kind == WidgetKind::Secret)
            edit->setEchoMode(QLineEdit::Password);
        if (!f.note.empty())
            edit->setPlaceholderText(label(f.note));
        c.control = edit;
        if (f.kind == WidgetKind::File) {
            auto* browse = new QPushButton(label(app::officelabels::Browse), parent);
            QObject::connect(browse, &QPushButton::clicked, edit, [edit, &f] {
                const QString chosen =
                    QFileDialog::getOpenFileName(edit->window(), label(f.fileTitle), edit->text(), label(f.fileFilter));
                if (!chosen.isEmpty())
                    edit->setText(chosen);
            });
            c.row = new QHBoxLayout;
            c.row->addWidget(edit, 1);
            c.row->addWidget(browse);
            c.button = browse;
        }
        break;
    }
    case WidgetKind::Number: {
        auto* spin = new QSpinBox(parent);
        spin->setRange(0, f.maximum);
        spin->setSingleStep(f.step);
        spin->setSuffix(label(f.unit));
        spin->setValue(static_cast<int>(core::leadingInteger(text)));
        c.control = spin;
        break;
    }
    case WidgetKind::Flag: {
        // the consent's long text goes beside its box, wrapped
        auto* box = new QCheckBox(f.section == app::FormSection::Consent ? QString() : label(f.label), parent);
        box->setChecked(text == "1");
        c.control = box;
        break;
    }
    case WidgetKind::Choice: {
        auto* combo = new QComboBox(parent);
        for (const app::FieldChoice& choice : f.choices)
            combo->addItem(label(choice.name), fromBytes(choice.value));
        c.control = combo;
        if (!f.choices.front().meaning.empty()) {
            auto* meaning = new QLabel(parent);
            meaning->setWordWrap(true);
            meaning->setMinimumWidth(320);
            // room for the longest meaning, so that the dialog does not jump when the choice changes
            meaning->setMinimumHeight(3 * meaning->fontMetrics().lineSpacing());
            meaning->setAlignment(Qt::AlignLeft | Qt::AlignTop);
            const auto showMeaning = [meaning, choices = f.choices](int index) {
                if (index >= 0 && static_cast<size_t>(index) < choices.size())
                    meaning->setText(label(choices[static_cast<size_t>(index)].meaning));
            };
            QObject::connect(combo, &QComboBox::currentIndexChanged, meaning, showMeaning);
            combo->setCurrentIndex(std::max(0, combo->findData(fromBytes(text))));
            showMeaning(combo->currentIndex());
            c.meaning = meaning;
        } else {
            combo->setCurrentIndex(std::max(0, combo->findData(fromBytes(text))));
        }
        break;
    }
    default:
        break;
    }
    if (c.control && !f.hint.empty())
        c.control->setToolTip(label(f.hint));
    return c;
}

// The text of a field as its control holds it.
std::string controlText(const app::ConfigFieldInfo& f, const QWidget* control)
{
    switch (f.kind) {
    case app::WidgetKind::Text:
    case app::WidgetKind::Secret:
    case app::WidgetKind::File:
        return toBytes(qobject_cast<const QLineEdit*>(control)->text());
    case app::WidgetKind::Number:
        return std::to_string(qobject_cast<const QSpinBox*>(control)->value());
    case app::WidgetKind::Flag:
        return qobject_cast<const QCheckBox*>(control)->isChecked() ? "1" : "0";
    case app::WidgetKind::Choice:
        return toBytes(qobject_cast<const QComboBox*>(control)->currentData().toString());
    default:
        return {};
    }
}

// The field's row: its label and control; a check box carries its own text.
void addRow(QFormLayout* form, const app::ConfigFieldInfo& f, const FieldControl& c)
{
    if (f.kind == app::WidgetKind::Flag) {
        form->addRow(c.control);
    } else if (c.row) {
        form->addRow(label(f.label), c.row);
        // the mnemonic of a label focuses its field
        if (auto* l = qobject_cast<QLabel*>(form->labelForField(c.row)))
            l->setBuddy(c.control);
    } else {
        form->addRow(label(f.label), c.control);
    }
    if (c.meaning)
        form->addRow(QString(), c.meaning);
}

// The tab order goes on with `next`.
void chain(QWidget*& previous, QWidget* next)
{
    if (previous)
        QWidget::setTabOrder(previous, next);
    previous = next;
}

// The form of a section's group, made when its first field comes.
QFormLayout* groupForm(std::map<app::FormSection, QFormLayout*>& forms, app::FormSection section, QWidget* parent,
                       const std::function<void(QGroupBox*)>& place)
{
    QFormLayout*& form = forms[section];
    if (!form) {
        auto* group = new QGroupBox(label(app::sectionTitle(section)), parent);
        form = new QFormLayout(group);
        place(group);
    }
    return form;
}

// The modal window while the browser has the sign-in: what is awaited, the address once known, and Cancel.
class SignInWaitDialog final : public QDialog {
public:
    explicit SignInWaitDialog(QWidget* parent) : QDialog(parent)
    {
        setWindowTitle(fromBytes(base::caption(app::k_signInTitle)));
        m_note = new QLabel(label(app::k_signInAddressNote), this);
        m_address = new QLineEdit(this);
        m_address->setReadOnly(true);
        m_address->setMinimumWidth(360);
        m_note->hide();
        m_address->hide();
        auto* box = new QDialogButtonBox(QDialogButtonBox::Cancel, this);
        connect(box, &QDialogButtonBox::rejected, this, &QDialog::reject);
        auto* layout = new QVBoxLayout(this);
        layout->addWidget(new QLabel(label(app::k_signInWaiting), this));
        layout->addWidget(m_note);
        layout->addWidget(m_address);
        layout->addWidget(box);
    }
    // The sign-in page's address, to be copied into a browser when none opened.
    void showAddress(const QString& address)
    {
        m_address->setText(address);
        m_address->setCursorPosition(0);
        m_note->show();
        m_address->show();
    }

private:
    QLabel* m_note;
    QLineEdit* m_address;
};

} // namespace

ConfigDialog::ConfigDialog(base::AppSettings& settings, base::FrontEnd& frontEnd, std::function<void()> help,
                           QWidget* parent, rules::RulesFile* rules)
    : QDialog(parent), m_settings(settings), m_frontEnd(frontEnd), m_help(std::move(help)),
      m_state(app::openConfiguration(settings)), m_rules(rules)
{
    setWindowTitle(fromBytes(app::k_configureTitle));
    const app::ConfigValues& v = m_state.values;
    auto* form = new QFormLayout;
    auto* groups = new QHBoxLayout;
    auto* consentRow = new QHBoxLayout;
    std::map<app::FormSection, QFormLayout*> groupForms;
    const auto sectionForm = [&](app::FormSection section) -> QFormLayout* {
        if (section == app::FormSection::Main || section == app::FormSection::Consent)
            return section == app::FormSection::Main ? form : nullptr;
        // the office group takes three fifths of the width, the e-mail group the rest
        const int stretch = section == app::FormSection::Office ? 3 : 2;
        return groupForm(groupForms, section, this, [=](QGroupBox* group) { groups->addWidget(group, stretch); });
    };
    QWidget* previous = nullptr;
    for (const app::ConfigFieldInfo& f : app::configFields()) {
        if (app::isAdvanced(f.section))
            continue;
        QFormLayout* rows = sectionForm(f.section);
        if (f.kind == app::WidgetKind::AddressList || f.kind == app::WidgetKind::RulesChoice ||
            f.kind == app::WidgetKind::Button) {
            addSpecialField(f, rows, previous);
            continue;
        }
        const FieldControl c = makeControl(f, v[f.field], this);
        m_fields[f.field] = c.control;
        chain(previous, c.control);
        if (c.button)
            chain(previous, c.button);
        if (f.section == app::FormSection::Consent) {
            auto* text = new QLabel(label(f.label), this);
            text->setWordWrap(true);
            text->setBuddy(c.control);
            consentRow->addWidget(c.control, 0, Qt::AlignTop);
            consentRow->addWidget(text, 1);
        } else {
            addRow(rows, f, c);
        }
    }
    auto* logDir = qobject_cast<QLineEdit*>(field(app::ConfigField::LogDir));
    logDir->setEnabled(!m_state.logDirLocked);
    connect(logDir, &QLineEdit::editingFinished, this, &ConfigDialog::logDirEdited);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addLayout(groups);
    layout->addLayout(consentRow);
    layout->addWidget(buttons(this, m_help));
    refreshAddresses(v.notifyAddresses.empty() ? -1 : 0);
}

void ConfigDialog::addSpecialField(const app::ConfigFieldInfo& f, QFormLayout* form, QWidget*& previous)
{
    switch (f.kind) {
    case app::WidgetKind::AddressList: {
        m_addresses = new QComboBox(this);
        auto* add = new QPushButton(label(app::k_addAddressButton), this);
        auto* del = new QPushButton(label(app::k_deleteAddressButton), this);
        auto* row = new QHBoxLayout;
        row->addWidget(m_addresses, 1);
        row->addWidget(add);
        row->addWidget(del);
        form->addRow(label(f.label), row);
        // the row's label focuses the list
        if (auto* l = qobject_cast<QLabel*>(form->labelForField(row)))
            l->setBuddy(m_addresses);
        connect(add, &QPushButton::clicked, this, &ConfigDialog::addAddress);
        connect(del, &QPushButton::clicked, this, &ConfigDialog::deleteAddress);
        m_fields[f.field] = m_addresses;
        chain(previous, m_addresses);
        chain(previous, add);
        chain(previous, del);
        break;
    }
    case app::WidgetKind::Button: {
        auto* button = new QPushButton(label(f.label), this);
        form->addRow(QString(), button);
        connect(button, &QPushButton::clicked, this, &ConfigDialog::advanced);
        m_fields[f.field] = button;
        chain(previous, button);
        break;
    }
    case app::WidgetKind::RulesChoice:
        m_rulesChoice = new QComboBox(this);
        fillRulesChoice();
        form->addRow(label(f.label), m_rulesChoice);
        m_fields[f.field] = m_rulesChoice;
        chain(previous, m_rulesChoice);
        break;
    default:
        break;
    }
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
    if (app::followLogDir(m_state.values, shown,
                          toBytes(qobject_cast<QLineEdit*>(field(app::ConfigField::LogDir))->text())))
        fillRulesChoice();
}

app::ConfigValues ConfigDialog::collect() const
{
    app::ConfigValues v = m_state.values;
    for (const app::ConfigFieldInfo& f : app::configFields()) {
        if (f.key && !app::isAdvanced(f.section))
            v[f.field] = controlText(f, m_fields.at(f.field));
    }
    v.rules = static_cast<app::RulesChoice>(m_rulesChoice->currentData().toInt());
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
    AdvancedDialog dialog(m_state.values, m_help, this, &m_settings, &m_frontEnd);
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

AdvancedDialog::AdvancedDialog(const app::ConfigValues& values, const std::function<void()>& help, QWidget* parent,
                               base::AppSettings* settings, base::FrontEnd* frontEnd)
    : QDialog(parent), m_values(values), m_settings(settings), m_frontEnd(frontEnd)
{
    setWindowTitle(fromBytes(app::k_advancedTitle));
    auto* layout = new QVBoxLayout(this);
    std::map<app::FormSection, QFormLayout*> groupForms;
    for (const app::ConfigFieldInfo& f : app::configFields()) {
        if (!app::isAdvanced(f.section))
            continue;
        const FieldControl c = makeControl(f, values[f.field], this);
        m_fields[f.field] = c.control;
        QFormLayout* form =
            groupForm(groupForms, f.section, this, [layout](QGroupBox* group) { layout->addWidget(group); });
        addRow(form, f, c);
        // the sign-in follows the last field it reads
        if (f.field == app::ConfigField::OAuthScope && m_settings && m_frontEnd)
            addSignInRow(form);
    }
    layout->addWidget(buttons(this, help));
}

void AdvancedDialog::addSignInRow(QFormLayout* form)
{
    m_account = new QLabel(this);
    m_account->setWordWrap(true);
    m_account->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_account->setMinimumWidth(320);
    // room for the longest account line, so that the dialog neither clips it nor jumps
    m_account->setMinimumHeight(3 * m_account->fontMetrics().lineSpacing());
    m_account->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_signIn = new QPushButton(this);
    auto* row = new QHBoxLayout;
    row->addWidget(m_signIn);
    row->addStretch(1);
    form->addRow(label("Account:"), m_account);
    form->addRow(QString(), row);
    QWidget::setTabOrder(m_fields.at(app::ConfigField::OAuthScope), m_signIn);
    connect(m_signIn, &QPushButton::clicked, this, &AdvancedDialog::signIn);
    // the button follows the sign-in method, the account line the user name, as they are chosen and typed
    for (const auto& [field, control] : m_fields) {
        if (auto* edit = qobject_cast<QLineEdit*>(control))
            connect(edit, &QLineEdit::textChanged, this, &AdvancedDialog::refreshSignIn);
        else if (auto* combo = qobject_cast<QComboBox*>(control))
            connect(combo, &QComboBox::currentIndexChanged, this, &AdvancedDialog::refreshSignIn);
    }
    refreshSignIn();
}

void AdvancedDialog::refreshSignIn()
{
    app::ConfigValues v = m_values;
    store(v);
    const app::MailSignInView view = app::mailSignInView(v, *m_settings);
    m_signIn->setText(label(view.button));
    m_signIn->setEnabled(view.enabled);
    m_signIn->setToolTip(label(view.tooltip));
    m_account->setText(label(view.account));
}

void AdvancedDialog::signIn()
{
    app::ConfigValues v = m_values;
    store(v);
    const base::OAuthSetup setup = app::mailSignInSetup(v);
    if (!setup.error.empty()) {
        m_frontEnd->tell(setup.error, app::k_signInTitle, base::Severity::Warning);
        return;
    }
    SignInWaitDialog wait(this);
    std::atomic<char> cancel{0};
    app::MailSignInOutcome outcome;
    std::thread worker([&] {
        outcome = app::runMailSignIn(
            setup.client, net::openWithXdgOpen,
            [&wait](const std::string& url) {
                QMetaObject::invokeMethod(
                    &wait, [&wait, address = fromBytes(url)] { wait.showAddress(address); }, Qt::QueuedConnection);
            },
            cancel);
        QMetaObject::invokeMethod(
            &wait, [&wait] { wait.accept(); }, Qt::QueuedConnection);
    });
    if (wait.exec() != QDialog::Accepted)
        cancel.store(1);
    worker.join();
    const std::string failure = app::finishMailSignIn(*m_settings, outcome, v[app::ConfigField::UserName]);
    if (!failure.empty())
        m_frontEnd->tell(failure, app::k_signInTitle, base::Severity::Error);
    refreshSignIn();
}

void AdvancedDialog::store(app::ConfigValues& values) const
{
    for (const auto& [field, control] : m_fields)
        values[field] = controlText(app::fieldInfo(field), control);
}

AddAddressDialog::AddAddressDialog(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(fromBytes(app::k_addAddressTitle));
    m_address = lineEdit({}, this);
    auto* form = new QFormLayout;
    form->addRow(label(app::k_addAddressLabel), m_address);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons(this, {}));
}

std::string AddAddressDialog::address() const
{
    return toBytes(m_address->text().trimmed());
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
