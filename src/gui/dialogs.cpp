#include "gui/dialogs.h"

#include "gui/addentrydialog.h"
#include "gui/textconv.h"

#include <QFileDialog>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>

namespace tarnwick::gui {

base::Answer QtDialogs::messageBox(QWidget* parent, const base::MessageBox& m)
{
    QMessageBox box(parent);
    box.setWindowTitle(fromBytes(m.caption));
    box.setText(fromBytes(m.text));
    using B = QMessageBox::StandardButton;
    QMessageBox::StandardButtons set = B::Ok;
    if (m.buttons == base::Buttons::YesNo)
        set = B::Yes | B::No;
    else if (m.buttons == base::Buttons::YesNoCancel)
        set = B::Yes | B::No | B::Cancel;
    box.setStandardButtons(set);
    switch (base::boxIcon(m)) {
    case base::BoxIcon::Critical:
        box.setIcon(QMessageBox::Critical);
        break;
    case base::BoxIcon::Warning:
        box.setIcon(QMessageBox::Warning);
        break;
    case base::BoxIcon::Question:
        box.setIcon(QMessageBox::Question);
        break;
    case base::BoxIcon::Information:
        box.setIcon(QMessageBox::Information);
        break;
    }
    const B defaultButton = m.defaultAnswer == base::Answer::Yes      ? B::Yes
                            : m.defaultAnswer == base::Answer::No     ? B::No
                            : m.defaultAnswer == base::Answer::Cancel ? B::Cancel
                                                                      : B::Ok;
    if (set.testFlag(defaultButton))
        box.setDefaultButton(defaultButton);
    switch (box.exec()) {
    case B::Yes:
        return base::Answer::Yes;
    case B::No:
        return base::Answer::No;
    case B::Cancel:
        return base::Answer::Cancel;
    default:
        // a box closed without a button: OK, or the answer that does nothing
        return m.buttons == base::Buttons::Ok
                   ? base::Answer::Ok
                   : (m.buttons == base::Buttons::YesNo ? base::Answer::No : base::Answer::Cancel);
    }
}

std::optional<std::string> QtDialogs::textInput(QWidget* parent, const std::string& title, const std::string& prompt,
                                                const std::string& initial)
{
    bool ok = false;
    const QString text =
        QInputDialog::getText(parent, fromBytes(title), fromBytes(prompt), QLineEdit::Normal, fromBytes(initial), &ok);
    if (!ok)
        return std::nullopt;
    return toBytes(text);
}

std::optional<TypedEntry> QtDialogs::addEntry(QWidget* parent)
{
    AddEntryDialog dialog(parent);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog.typed();
}

std::optional<std::string> QtDialogs::chooseFile(QWidget* parent, const FileChoice& choice)
{
    const QString title = fromBytes(base::caption(choice.title));
    const QString path =
        choice.save ? QFileDialog::getSaveFileName(parent, title, fromBytes(choice.start), fromBytes(choice.filter))
                    : QFileDialog::getOpenFileName(parent, title, fromBytes(choice.start), fromBytes(choice.filter));
    if (path.isEmpty())
        return std::nullopt;
    return toBytes(path);
}

void QtDialogs::unhandledError(QWidget* parent, const std::string& text)
{
    QMessageBox box(QMessageBox::Critical, QStringLiteral("Unhandled Exception"), fromBytes(text), QMessageBox::Ok,
                    parent);
    box.exec();
}

} // namespace tarnwick::gui
