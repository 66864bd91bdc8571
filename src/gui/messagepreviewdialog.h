#pragma once

#include "notify/servicereports.h"

#include <string>

class QWidget;

namespace tarnwick::gui {

// The read-only view of a message before it goes, with Send and Cancel.
class MessagePreviewDialog final : public notify::MessagePreview {
public:
    explicit MessagePreviewDialog(QWidget* parent) : m_parent(parent) {}
    bool confirmSend(const std::string& title, const std::string& message) override;

private:
    QWidget* m_parent;
};

} // namespace tarnwick::gui
