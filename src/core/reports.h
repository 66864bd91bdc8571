#pragma once

#include "platform/result.h"

#include <string>

namespace tarnwick::core {

struct Entry;
class EntryStore;

// The text of the HTML report, piece by piece; the notification layer fills it from its templates. It also gives
// the elements that the XML export adds to each entry after those of the field table.
class ReportRenderer {
public:
    virtual ~ReportRenderer() = default;
    // The page head and the table's header row.
    virtual std::string head() = 0;
    // One table row, with `entry` as the current entry.
    virtual std::string row(const Entry& entry) = 0;
    // The end of the table and of the page.
    virtual std::string tail() = 0;
    // Whole lines ("\n" line ends, values escaped) after the field table's elements of `entry`; none by default.
    virtual std::string xmlElements(const Entry& /*entry*/) { return {}; }
};

constexpr const char* k_htmlReportName = "Tarnwick.html";
constexpr const char* k_xmlExportName = "Tarnwick.xml";

// The HTML report: head, one row per entry in store order, tail; bytes as the renderer gives them.
std::string htmlReport(const EntryStore& store, ReportRenderer& renderer);
// The XML export in UTF-8 with "\n" line ends: the declaration, <Entries>, per entry every field of the table by its
// key with the XML-escaped display value and then the renderer's elements (when one is given), </Entries>.
std::string xmlExport(const EntryStore& store, ReportRenderer* renderer = nullptr);

// Which of the two files a writing replaced.
struct ReportsWritten {
    platform::Result html = platform::Result::failure("not written");
    platform::Result xml = platform::Result::failure("not written");
};

// Writes "Tarnwick.html" (as rendered) and "Tarnwick.xml" (CR LF line ends) into `reportDir`, each replaced
// atomically. The two are made in one pass: the head, then per entry its row and right after it its elements of the
// export, then the tail. A file that cannot be written is left as it was, silently; the other one is still written.
// Without a report directory nothing is written.
ReportsWritten WriteReports(const EntryStore& store, const std::string& reportDir, ReportRenderer& renderer);

} // namespace tarnwick::core
