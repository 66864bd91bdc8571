#pragma once

#include <QMessageBox>

#include <string>

class QPushButton;

namespace tarnwick::gui {

// Help > About: the program's and the rules file's versions, the courtesy line and
// the "Download/Install Upgrade" button.
class AboutBox final : public QMessageBox {
    Q_OBJECT
public:
    AboutBox(const std::string& version, const std::string& rulesVersion, QWidget* parent);
    // Whether the box was closed with the upgrade button.
    bool upgradeChosen() const;

private:
    QPushButton* m_upgrade;
};

} // namespace tarnwick::gui
