#pragma once

#include "base/threadsafety.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace tarnwick::net {

// The network dialogue as time-stamped lines, shown in the flow window and
// quoted in problem reports. Lines may be posted from any thread.
class FlowLog {
public:
    // Kinds of line: status, outgoing activity, incoming activity.
    static constexpr int k_status = 0;
    static constexpr int k_outgoing = 1;
    static constexpr int k_incoming = 2;

    // The kept text is cut back once it would grow past this many characters.
    static constexpr std::size_t k_textLimit = 19999;
    static constexpr std::size_t k_textKeep = 10000;

    using Subscriber = std::function<void(int kind, const std::string& line)>;

    FlowLog() = default;
    FlowLog(const FlowLog&) = delete;
    FlowLog& operator=(const FlowLog&) = delete;

    // A disabled flow log (no window to show it) logs nothing.
    void setEnabled(bool enabled);
    bool enabled() const;

    // Receives every line as it is posted, under the flow log's lock: the
    // subscriber must not call back into this flow log. An empty function clears.
    void setSubscriber(Subscriber subscriber);
    void clearSubscriber() { setSubscriber({}); }

    // Posts a finished line (it carries its own "\r\n").
    void post(int kind, const std::string& line);
    // Posts the time-stamped line for `label` + `message`.
    void log(int kind, std::string_view label, std::string_view message);

    // The whole kept text (the problem report's flow text).
    std::string text() const;
    void clearText();
    bool isEmpty() const;

    // "%03d.%02d " of `tick` (seconds modulo 1000, hundredths), label, message, "\r\n".
    static std::string formatLine(std::uint64_t tick, std::string_view label, std::string_view message);
    // Data as the log shows it: longer than 80 characters cut to 40 + "..." + 40,
    // then line feed, carriage return, backslash and control bytes escaped.
    static std::string shown(std::string_view data);

private:
    void appendText(const std::string& line) REQUIRES(m_mutex);

    mutable Mutex m_mutex;
    bool m_enabled GUARDED_BY(m_mutex) = true;
    Subscriber m_subscriber GUARDED_BY(m_mutex);
    std::string m_text GUARDED_BY(m_mutex);
};

} // namespace tarnwick::net
