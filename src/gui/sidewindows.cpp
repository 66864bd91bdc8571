#include "gui/sidewindows.h"

#include "base/settings.h"
#include "gui/windowplacement.h"
#include "net/flowlog.h"

#include <QFontDatabase>
#include <QHideEvent>
#include <QScrollBar>
#include <QShowEvent>
#include <QVBoxLayout>

namespace tarnwick::gui {

QRect keptRect(const base::AppSettings& settings, const base::WindowPlace& place)
{
    const long left = settings.number(place.left);
    const long top = settings.number(place.top);
    const long right = settings.number(place.right);
    const long bottom = settings.number(place.bottom);
    if (right - left < 100 || bottom - top < 60)
        return {};
    return QRect(static_cast<int>(left), static_cast<int>(top), static_cast<int>(right - left),
                 static_cast<int>(bottom - top));
}

void keepRect(base::AppSettings& settings, const base::WindowPlace& place, const QRect& rect)
{
    settings.setNumber(place.left, rect.left());
    settings.setNumber(place.top, rect.top());
    settings.setNumber(place.right, rect.left() + rect.width());
    settings.setNumber(place.bottom, rect.top() + rect.height());
}

SideWindow::SideWindow(const QString& title, const base::WindowPlace& place, base::AppSettings& settings,
                       QWidget* parent)
    : QWidget(parent, Qt::Window), m_place(place), m_settings(settings), m_view(new QPlainTextEdit(this))
{
    setWindowTitle(title);
    m_view->setReadOnly(true);
    m_view->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    m_view->setLineWrapMode(QPlainTextEdit::NoWrap);
    // the field listing puts a tab after each caption; the longest caption fits before the stop
    m_view->setTabStopDistance(m_view->fontMetrics().horizontalAdvance(QLatin1Char(' ')) * 15);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_view);
    resize(640, 420);
}

void SideWindow::present()
{
    show();
    raise();
    activateWindow();
}

void SideWindow::restore()
{
    placeWindow(this, keptRect(m_settings, m_place), size());
    m_restoring = true;
    setVisible(m_settings.number(m_place.visible) != 0);
    m_restoring = false;
}

void SideWindow::storeAndFreeze()
{
    storeVisible(isVisible());
    m_restoring = true; // hiding it as the program ends keeps its visibility for the next start
    keepRect(m_settings, m_place, geometry());
}

void SideWindow::storeVisible(bool visible)
{
    if (!m_restoring)
        m_settings.setNumber(m_place.visible, visible ? 1 : 0);
}

void SideWindow::showEvent(QShowEvent* event)
{
    storeVisible(true);
    QWidget::showEvent(event);
    emit shown();
}

void SideWindow::hideEvent(QHideEvent* event)
{
    storeVisible(false);
    QWidget::hideEvent(event);
}

FlowWindow::FlowWindow(base::AppSettings& settings, QWidget* parent)
    : SideWindow(QString::fromLatin1("Tarnwick\xAE - TCP/IP Communications"), base::setting::FlowWindow, settings,
                 parent)
{
}

void FlowWindow::appendLine(const QString& line)
{
    QScrollBar* bar = view()->verticalScrollBar();
    const bool atEnd = bar->value() >= bar->maximum() - 2;
    QString text = line;
    text.remove(QLatin1Char('\r'));
    if (m_length + text.size() > static_cast<qsizetype>(net::FlowLog::k_textLimit)) {
        QString kept = view()->toPlainText() + text;
        kept = kept.right(static_cast<qsizetype>(net::FlowLog::k_textKeep));
        view()->setPlainText(kept);
        m_length = kept.size();
    } else {
        QTextCursor cursor(view()->document());
        cursor.movePosition(QTextCursor::End);
        cursor.insertText(text);
        m_length += text.size();
    }
    if (atEnd)
        bar->setValue(bar->maximum());
}

} // namespace tarnwick::gui
