#pragma once

#include "platform/files.h"

#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

namespace tarnwick::core {
struct Entry;
}

namespace tarnwick::notify {

// The history of changes in the logging directory: a header line, then one line per changed field, oldest
// first, columns divided by TAB, CR LF line ends. Only ever appended to. Each line starts with the CRC-32 of the
// rest of the line (8 lowercase hex digits), so that a line cut by a crash is told from a whole one; lines written
// before lines carried it start with their date and are read as they were.
constexpr const char* k_historyFileName = "Tarnwick_history.txt";

// One changed field of one entry.
struct ChangeRecord {
    std::string date;      // "%04d-%02d-%02d": the day the change was found
    std::string number;    // the entry's application number, else its registration, else its international one
    std::string reference; // the user's reference at the time
    std::string field;     // the field's key ("StatusText")
    std::string oldValue;
    std::string newValue;

    bool operator==(const ChangeRecord&) const = default;
};

// The file's first line, with its line end.
std::string_view historyHeader();
// The record as a line of the file, its check first: TAB, CR, LF and backslash in a value written as \t, \r, \n
// and \\.
void appendHistoryLine(std::string& out, const ChangeRecord& record);
// The number the history keeps for an entry.
const std::string& historyNumber(const core::Entry& entry);
// A field key's column caption ("StatusText" gives "Status"); an unknown key as it is.
std::string_view fieldCaption(std::string_view key);

// What a history text holds.
struct HistoryText {
    std::vector<ChangeRecord> records; // in file order, oldest first
    int damaged = 0;   // lines that are no record or fail their check; a last line without its line end is not one
    std::string error; // why a file that is there could not be read
    // Of each number (its digits), how many whole records the read counted and did not keep.
    std::unordered_map<std::string, size_t> leftOut;
};

// Which records a read of the history keeps: of every number or only of those named (digits compared), and of
// each number all its records or only its newest. A record left out is counted under its number, so that a reader
// still tells how many there are. With numbers named, only the lines that may be theirs are checked (the check
// costs most of a read): a line of another number is counted under it unchecked, and is never counted as damaged.
struct HistoryKeep {
    std::vector<std::string> numbers; // none: every number
    size_t newest = 0;                // of each number; 0: all

    bool operator==(const HistoryKeep&) const = default;
};

// Reads a history text handed over in pieces of any size, so that a file is read in blocks and only what is kept
// is held: lines are split at their LF wherever a piece ends.
class HistoryReader {
public:
    explicit HistoryReader(HistoryKeep keep = {});
    // The next bytes of the text.
    void add(std::string_view bytes);
    // What was read; a last line without its LF (a crash in the middle of an append) is left out.
    HistoryText finish();

private:
    struct Recent {
        std::vector<std::pair<size_t, ChangeRecord>> ring; // the newest records with their place in the file
        size_t next = 0;                                   // the oldest slot once the ring is full
    };

    void line(std::string_view line);

    HistoryKeep m_keep;
    std::unordered_set<std::string> m_wanted; // digits of the named numbers
    std::unordered_map<std::string, Recent> m_recent;
    std::string m_partial; // a line that the last piece cut
    std::string m_digits;
    size_t m_read = 0; // whole records so far
    HistoryText m_text;
};

// Reads a history text from its end back, handed over in pieces that each come before those handed so far, and
// hands on the records of the named numbers (digits compared; every record when none is named) newest first: the
// records and damaged lines that a read from the start finds, in the opposite order. Nothing is held but the part
// of a line that a piece cut, so a file of any size is read in the memory of a block. When numbers are named, only
// lines that can be theirs are checked, and only those count as damaged.
class HistoryBackReader {
public:
    using Sink = std::function<void(const ChangeRecord&)>;
    HistoryBackReader(const std::vector<std::string>& numbers, Sink sink);
    // The bytes before those handed so far.
    void addBefore(std::string_view bytes);
    // Hands on the first line; how many lines were no record.
    int finish();

private:
    void line(std::string_view line);

    std::unordered_set<std::string> m_wanted; // digits of the named numbers
    bool m_all;
    Sink m_sink;
    bool m_endFound = false; // the last LF is behind: what follows it is a line a crash cut short
    std::string m_head;      // the end of a line whose start is in a piece still to come
    std::string m_digits;
    ChangeRecord m_record;
    int m_damaged = 0;
};

// What a read of the history file newest first found.
struct HistoryScan {
    int damaged = 0;
    std::string error; // why a file that is there could not be read
};

// Reads "Tarnwick_history.txt" in `logDir` from its end back a block at a time, handing the records of `numbers`
// (all when none) to `sink` newest first; no file, no records.
HistoryScan readHistoryNewestFirst(const std::string& logDir, const std::vector<std::string>& numbers,
                                   HistoryBackReader::Sink sink);

// Reads every record; a torn last line (a crash in the middle of an append) is left out, and so is a torn line that
// a later append closed, when it carries its check.
HistoryText parseHistory(std::string_view text);

// The records of each entry, found by any of its numbers (digits compared, so 75-123456 is 75123456).
class HistoryIndex {
public:
    explicit HistoryIndex(const HistoryText& history);
    // Positions in `history.records` of the entry's records, oldest first.
    std::vector<size_t> of(const core::Entry& entry) const;
    // The same for typed numbers.
    std::vector<size_t> of(const std::vector<std::string>& numbers) const;
    // How many records the history counted for the entry, those the read left out too.
    size_t count(const core::Entry& entry) const;

private:
    std::unordered_map<std::string, std::vector<size_t>> m_byNumber;
    std::unordered_map<std::string, size_t> m_leftOut;
};

// The history file of a logging directory, read in blocks and read again only when the file or what to keep
// changed.
class History {
public:
    // The records of "Tarnwick_history.txt" in `logDir` that `keep` names: none when there is no such file or no
    // folder.
    const HistoryText& read(const std::string& logDir, const HistoryKeep& keep = {});

private:
    HistoryText m_text;
    std::string m_path;
    platform::FileStamp m_stamp;
    HistoryKeep m_keep;
};

// The digits of a number.
std::string numberDigits(std::string_view number);

} // namespace tarnwick::notify
