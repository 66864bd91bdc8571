#pragma once

#include "core/daynumber.h"

#include <string_view>

namespace tarnwick::docket {

// What a status text or a history item says happened in the prosecution of a mark.
enum class ProsecutionEvent {
    None,
    OfficeAction,           // a non-final or final action, a refusal or a suspension inquiry was issued or e-mailed
    PostRegistrationAction, // the same about a maintenance filing after registration
    ResponseFiled,          // a response to an action or a request for reconsideration was received or entered
    ResponseTimeExtension,  // a request to extend the time to respond: the action stays open
    Published,              // published for opposition
    NoticeOfAllowance,      // a notice of allowance was issued
    UseExtension,           // an extension of the time to file the statement of use was granted (or filed)
    StatementOfUseFiled,
    StatementOfUseAccepted,
    Registered,
};

struct RecognizedEvent {
    ProsecutionEvent event = ProsecutionEvent::None;
    int extension = 0; // UseExtension: the extension's number as the office counts it (1 when it gives none)

    bool operator==(const RecognizedEvent&) const = default;
};

// The event a status text or history item names, whatever the case and the office's wording ("issued", "mailed",
// "e-mailed" or "sent"; "office action" or "action"; "statement of use" or "SOU").
RecognizedEvent recognizeEvent(std::string_view text);

// A last history item as the update reads it, "2026-11-02 - Non-Final Action E-Mailed": its day (0 when it has
// none) and its text.
struct HistoryItem {
    core::DayNumber day = 0;
    std::string_view text;
};
HistoryItem splitHistoryItem(std::string_view lastHistory);

// Where `word` stands in upper-case `text` as a whole word (no letter or digit either side), and with `negatable`
// not right after "NOT ".
bool hasWord(std::string_view text, std::string_view word, bool negatable = false);

} // namespace tarnwick::docket
