#include "notify/digesttext.h"

#include "core/text.h"

namespace tarnwick::notify {

namespace {

std::string counted(size_t n, std::string_view one, std::string_view many)
{
    return std::to_string(n) + " " + std::string(n == 1 ? one : many);
}

} // namespace

std::optional<std::string> digestLine(std::string_view message)
{
    constexpr std::string_view subject = "Subject: ";
    if (message.size() < subject.size() || !core::equalNoCase(message.substr(0, subject.size()), subject))
        return std::nullopt;
    const size_t end = message.find("\r\n");
    if (end == std::string_view::npos)
        return std::nullopt;
    return std::string(message.substr(subject.size(), end - subject.size()));
}

std::string digestSummary(size_t changed, const std::vector<DigestEdit>& edits, size_t reminders)
{
    size_t added = 0;
    size_t deleted = 0;
    size_t referenced = 0;
    for (const DigestEdit& edit : edits) {
        added += edit.kind == 'a' ? 1 : 0;
        deleted += edit.kind == 'd' ? 1 : 0;
        referenced += edit.kind == 'c' ? 1 : 0;
    }
    std::string summary;
    auto part = [&](size_t n, std::string_view one, std::string_view many) {
        if (n == 0)
            return;
        if (!summary.empty())
            summary += ", ";
        summary += counted(n, one, many);
    };
    part(changed, "mark changed", "marks changed");
    part(added, "entry added", "entries added");
    part(deleted, "entry deleted", "entries deleted");
    part(referenced, "reference changed", "references changed");
    part(reminders, "deadline reminder", "deadline reminders");
    return summary;
}

std::string digestText(size_t changed, std::string_view changes, std::string_view dataSource, std::string_view appName,
                       const std::vector<DigestEdit>& edits, const std::vector<std::string>& reminders)
{
    std::string text;
    if (changed > 0) {
        text.append("The most recent information reported on the ").append(dataSource);
        text.append(" web site has changed for ").append(counted(changed, "mark", "marks")).append(":\r\n\r\n");
        text.append(changes);
    }
    if (!edits.empty()) {
        if (!text.empty())
            text += "\r\n\r\n";
        text.append("Entries added, deleted or changed in the ").append(appName).append(" database:");
        for (const DigestEdit& edit : edits)
            text.append("\r\n").append(edit.line);
    }
    if (!reminders.empty()) {
        if (!text.empty())
            text += "\r\n\r\n";
        text.append("Deadlines coming up or overdue:");
        for (const std::string& line : reminders)
            text.append("\r\n").append(line);
    }
    return text;
}

} // namespace tarnwick::notify
