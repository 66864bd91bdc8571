#include "gui/addentrydialog.h"

#include "core/entry.h"
#include "core/identifier.h"
#include "gui/textconv.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>

namespace tarnwick::gui {

AddEntryDialog::AddEntryDialog(QWidget* parent)
    : QDialog(parent), m_reference(new QLineEdit(this)), m_number(new QLineEdit(this)), m_problem(new QLabel(this))
{
    setWindowTitle(QStringLiteral("Add Entry"));
    auto* form = new QFormLayout(this);
    m_problem->setStyleSheet(QStringLiteral("color: palette(link)"));
    auto* referenceLabel = new QLabel(QStringLiteral("&Reference:"), this);
    referenceLabel->setBuddy(m_reference);
    auto* numberLabel = new QLabel(QStringLiteral("Reg/App/Int Reg &Number:"), this);
    numberLabel->setBuddy(m_number);
    form->addRow(referenceLabel, m_reference);
    form->addRow(numberLabel, m_number);
    form->addRow(m_problem);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    form->addRow(buttons);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(buttons, &QDialogButtonBox::accepted, this, &AddEntryDialog::accept);
    m_number->setFocus();
}

TypedEntry AddEntryDialog::typed() const
{
    return {toBytes(m_number->text()), toBytes(m_reference->text())};
}

void AddEntryDialog::accept()
{
    core::Entry probe;
    if (std::optional<std::string> refusal = core::setIdentifier(probe, core::typedNumber(toBytes(m_number->text())))) {
        m_problem->setText(fromBytes(*refusal));
        m_number->setFocus();
        return;
    }
    QDialog::accept();
}

} // namespace tarnwick::gui
