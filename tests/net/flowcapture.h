#pragma once

#include "net/flowlog.h"

#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace tarnwick::test {

// A flow log that keeps every line as (kind, text without stamp and line end).
class FlowCapture {
public:
    FlowCapture()
    {
        log.setSubscriber([this](int kind, const std::string& line) {
            std::lock_guard lock(m_mutex);
            m_lines.emplace_back(kind, line.substr(7, line.size() - 9));
        });
    }
    ~FlowCapture() { log.clearSubscriber(); }

    std::vector<std::pair<int, std::string>> lines() const
    {
        std::lock_guard lock(m_mutex);
        return m_lines;
    }
    std::vector<std::string> texts() const
    {
        std::vector<std::string> out;
        for (const auto& l : lines())
            out.push_back(l.second);
        return out;
    }
    bool contains(const std::string& text) const
    {
        for (const auto& l : lines())
            if (l.second.find(text) != std::string::npos)
                return true;
        return false;
    }

    net::FlowLog log;

private:
    mutable std::mutex m_mutex;
    std::vector<std::pair<int, std::string>> m_lines;
};

} // namespace tarnwick::test
