#pragma once

#include "core/daynumber.h"
#include "core/fieldtable.h"

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace tarnwick::core {

// How often an entry is due, with the values the data file holds. A stored value
// outside 0..4 is kept as it is and behaves as Never.
enum class Frequency : int { Daily = 0, Weekly = 1, Monthly = 2, Yearly = 3, Never = 4 };

// "Daily".."Never"; every value other than Daily..Yearly is "Never".
const char* frequencyWord(Frequency frequency);
// The frequency a word names ("Daily".."Never", any case); none for another word.
std::optional<Frequency> frequencyNamed(std::string_view word);

// One monitored trademark. Field names are the system's own.
struct Entry {
    // A new record: every text empty, Daily, no days; Today is the current local day.
    Entry();
    // The same with a given Today (loading many records reads the clock once).
    explicit Entry(DayNumber today);

    std::string SerNum;
    std::string RegNum;
    std::string IntNum;
    std::string Trademark;
    std::string FilingDate;
    std::string RegDate;
    std::string PublishedDate;
    std::string LawOffice;
    std::string Owner;
    std::string Attorney;
    std::string StatusDate;
    std::string StatusText;
    std::string LastHistory;
    std::string Location;
    DayNumber Today = 0; // the local day this record was created; never stored
    core::Frequency Frequency = core::Frequency::Daily;
    DayNumber LastUpdate = 0;
    DayNumber LastChange = 0;
    std::string Reference;
    std::string Error;

    // The text member of a text field; nullptr for Frequency, LastUpdate, LastChange.
    std::string* textField(FieldId id);
    const std::string* textField(FieldId id) const;

    // Numeric form: integers in decimal. Display form: the frequency word, days as
    // "%04d-%02d-%02d" (empty for 0). Texts as held.
    std::string valueText(FieldId id, bool numeric) const;
    void setValueText(FieldId id, std::string_view text);

    // Field keys (display form), RecentChange, UpToDate, StatusUrl, Identifier,
    // Status; names compared without regard to case. None when not a name of an entry.
    std::optional<std::string> lookupVariable(std::string_view name) const;

    // Every row: column caption, ":\t", display value, "\r\n".
    std::string fieldListing() const;
    bool isUpToDate() const;
    // Changed: the entry's last update, within the last seven days of its Today, found a difference in a watched
    // field. An entry never updated, a first reading and a number the office has no record of are no change.
    // The RecentChange variable, the list's mark, the report and the details all go by this.
    bool recentlyChanged() const;
    bool sameWatchedValues(const Entry& other) const;
    int compareField(FieldId id, const Entry& other) const;
    int sortCompare(FieldId id, const Entry& other, bool reversed) const;
    // 0..7: 1 recently changed, 2 up to date, 4 has an error.
    int stateImage() const;
    // The clean-up after reading a record or applying the rules.
    void finishRecord();
};

// The status-page address of an entry (the entry variable StatusUrl). The rules
// layer installs the provider; until then StatusUrl is the empty text.
using StatusUrlProvider = std::function<std::string(const Entry&)>;
void setStatusUrlProvider(StatusUrlProvider provider);

// The provider as it was before the scope, again when the scope ends: whatever a
// provider installed inside it points at, nothing points at it afterwards.
class StatusUrlProviderScope {
public:
    StatusUrlProviderScope();
    ~StatusUrlProviderScope();
    StatusUrlProviderScope(const StatusUrlProviderScope&) = delete;
    StatusUrlProviderScope& operator=(const StatusUrlProviderScope&) = delete;

private:
    StatusUrlProvider m_previous;
};

} // namespace tarnwick::core
