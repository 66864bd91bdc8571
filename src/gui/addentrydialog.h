#pragma once

#include "gui/dialogs.h"

#include <QDialog>

class QLabel;
class QLineEdit;

namespace tarnwick::gui {

// The Add dialog: a reference and a number; OK takes only a number that validates
// and shows why another is refused.
class AddEntryDialog final : public QDialog {
    Q_OBJECT
public:
    explicit AddEntryDialog(QWidget* parent = nullptr);

    TypedEntry typed() const;
    void accept() override;

private:
    QLineEdit* m_reference;
    QLineEdit* m_number;
    QLabel* m_problem;
};

} // namespace tarnwick::gui
