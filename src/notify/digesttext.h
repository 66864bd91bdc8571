#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarnwick::notify {

// An edit's notice as it joins a digest: its kind ('a' added, 'c' reference changed, 'd' deleted) and its line.
struct DigestEdit {
    char kind = 0;
    std::string line;
};

// The line a queued notice gives a digest: its subject. None for a message that names its own recipients (a
// leading "To: " or "Cc: " line) or has no subject line: such a message goes on its own.
std::optional<std::string> digestLine(std::string_view message);

// What a digest holds, for its subject: "2 marks changed, 15 entries added, 1 entry deleted, 3 deadline reminders".
std::string digestSummary(size_t changed, const std::vector<DigestEdit>& edits, size_t reminders = 0);

// The digest's body text: the changes at the office under their lead sentence (which names `dataSource`),
// then the edits of the list, then the deadline reminders a line each, each part only when it holds something.
std::string digestText(size_t changed, std::string_view changes, std::string_view dataSource, std::string_view appName,
                       const std::vector<DigestEdit>& edits, const std::vector<std::string>& reminders = {});

} // namespace tarnwick::notify
