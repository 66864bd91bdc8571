#include "gui/messagepreviewdialog.h"

#include "gui/textconv.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QFontDatabase>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace tarnwick::gui {

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

} // namespace tarnwick::gui
