#include "gui/aboutbox.h"

#include "base/frontend.h"
#include "gui/textconv.h"
#include "notify/appnames.h"

#include <QPushButton>

namespace tarnwick::gui {

AboutBox::AboutBox(const std::string& version, const std::string& rulesVersion, QWidget* parent) : QMessageBox(parent)
{
    setWindowTitle(fromBytes(base::caption("About")));
    if (parent)
        setIconPixmap(parent->windowIcon().pixmap(48, 48));
    setText(QStringLiteral("<b>Tarnwick</b> %1<br>Rules file version %2")
                .arg(QString::fromStdString(version), fromBytes(rulesVersion).toHtmlEscaped()));
    setInformativeText(fromBytes(notify::k_courtesy));
    m_upgrade = addButton(QStringLiteral("Download/Install Upgrade"), QMessageBox::ActionRole);
    addButton(QMessageBox::Ok);
}

bool AboutBox::upgradeChosen() const
{
    return clickedButton() == m_upgrade;
}

} // namespace tarnwick::gui
