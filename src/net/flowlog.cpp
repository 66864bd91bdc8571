#include "net/flowlog.h"

#include "platform/clock.h"

#include <cstdio>

namespace tarnwick::net {

void FlowLog::setEnabled(bool enabled)
{
    MutexLock lock(m_mutex);
    m_enabled = enabled;
}

bool FlowLog::enabled() const
{
    MutexLock lock(m_mutex);
    return m_enabled;
}

void FlowLog::setSubscriber(Subscriber subscriber)
{
    MutexLock lock(m_mutex);
    m_subscriber = std::move(subscriber);
}

void FlowLog::post(int kind, const std::string& line)
{
    MutexLock lock(m_mutex);
    if (!m_enabled)
        return;
    appendText(line);
    if (m_subscriber)
        m_subscriber(kind, line);
}

void FlowLog::log(int kind, std::string_view label, std::string_view message)
{
    if (!enabled())
        return;
    post(kind, formatLine(platform::clock().tickMillis(), label, message));
}

void FlowLog::appendText(const std::string& line)
{
    if (m_text.size() + line.size() <= k_textLimit) {
        m_text += line;
        return;
    }
    if (line.size() > k_textKeep) {
        m_text.assign(line, line.size() - k_textKeep, k_textKeep);
        return;
    }
    std::string kept;
    const std::size_t from = m_text.size() > k_textKeep ? m_text.size() - k_textKeep : 0;
    kept.reserve(m_text.size() - from + line.size());
    kept.append(m_text, from, std::string::npos);
    kept += line;
    m_text = std::move(kept);
}

std::string FlowLog::text() const
{
    MutexLock lock(m_mutex);
    return m_text;
}

void FlowLog::clearText()
{
    MutexLock lock(m_mutex);
    m_text.clear();
}

bool FlowLog::isEmpty() const
{
    MutexLock lock(m_mutex);
    return m_text.empty();
}

std::string FlowLog::formatLine(std::uint64_t tick, std::string_view label, std::string_view message)
{
    char stamp[16];
    std::snprintf(stamp, sizeof stamp, "%03d.%02d ", static_cast<int>(tick / 1000 % 1000),
                  static_cast<int>(tick % 1000 / 10));
    std::string line;
    line.reserve(8 + label.size() + message.size() + 2);
    line += stamp;
    line += label;
    line += message;
    line += "\r\n";
    return line;
}

std::string FlowLog::shown(std::string_view data)
{
    std::string cut;
    if (data.size() > 80) {
        cut.reserve(83);
        cut.append(data.substr(0, 40));
        cut += "...";
        cut.append(data.substr(data.size() - 40));
        data = cut;
    }
    static constexpr char k_hex[] = "0123456789abcdef";
    std::string out;
    out.reserve(data.size() + 16);
    for (char ch : data) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\\') {
            out += "\\\\";
        } else if (c < 0x20) {
            out += "\\0x";
            out += k_hex[c >> 4];
            out += k_hex[c & 15];
        } else {
            out += ch;
        }
    }
    return out;
}

} // namespace tarnwick::net
