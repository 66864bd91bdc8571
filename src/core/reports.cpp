#include "core/reports.h"

#include "core/entrystore.h"
#include "core/text.h"
#include "platform/files.h"
#include "platform/terminal.h"

#include <algorithm>
#include <system_error>
#include <thread>

namespace tarnwick::core {

std::string htmlReport(const EntryStore& store, ReportRenderer& renderer)
{
    std::string out = renderer.head();
    for (const Entry& entry : store.entries())
        out += renderer.row(entry);
    out += renderer.tail();
    return out;
}

namespace {

constexpr std::string_view k_xmlHead = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Entries>\n";
constexpr std::string_view k_xmlEnd = "</Entries>\n";

// Appends `value` XML-escaped; most values need no escape and are not copied on their way.
void appendXmlValue(std::string& out, std::string_view value)
{
    const bool plain = std::none_of(value.begin(), value.end(), [](char c) {
        return static_cast<unsigned char>(c) < 0x20 ? isXmlForbidden(c)
                                                    : c == '&' || c == '<' || c == '>' || c == '"' || c == '\'';
    });
    if (plain)
        out += value;
    else
        out += escapeXml(value);
}

// One entry of the export, "\n" line ends, its values' bytes as the entry keeps them.
void appendXmlEntry(std::string& out, const Entry& entry, ReportRenderer* renderer)
{
    out += " <Entry>\n";
    for (const FieldInfo& field : fieldTable()) {
        out += "  <";
        out += field.key;
        out += '>';
        if (const std::string* text = entry.textField(field.id))
            appendXmlValue(out, *text);
        else
            appendXmlValue(out, entry.valueText(field.id, false));
        out += "</";
        out += field.key;
        out += ">\n";
    }
    if (renderer)
        out += renderer->xmlElements(entry);
    out += " </Entry>\n";
}

// Appends a piece of the export as the file holds it: in UTF-8 (see xmlExport) with CR LF line ends. Every piece
// begins and ends with markup, so that no character is split between two and the pieces convert as the whole would.
void appendFileText(std::string& out, std::string_view piece)
{
    // a piece in ASCII, as most are, is UTF-8 already
    const bool ascii =
        std::all_of(piece.begin(), piece.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    std::string converted;
    if (!ascii)
        converted = platform::utf8Text(piece);
    std::string_view rest = ascii ? piece : std::string_view(converted);
    for (size_t lf = rest.find('\n'); lf != std::string_view::npos; lf = rest.find('\n')) {
        out.append(rest.substr(0, lf));
        out += "\r\n";
        rest.remove_prefix(lf + 1);
    }
    out.append(rest);
}

} // namespace

std::string xmlExport(const EntryStore& store, ReportRenderer* renderer)
{
    std::string out(k_xmlHead);
    for (const Entry& entry : store.entries())
        appendXmlEntry(out, entry, renderer);
    out += k_xmlEnd;
    // values keep the bytes their pages had: UTF-8 stays, any other byte is read as Windows-1252
    return platform::utf8Text(out);
}

ReportsWritten WriteReports(const EntryStore& store, const std::string& reportDir, ReportRenderer& renderer)
{
    ReportsWritten written;
    if (reportDir.empty())
        return written;
    // both files in one pass over the entries, the export's elements of an entry right after its row (so that a
    // renderer counts what both show once), the export converted an entry at a time rather than copied whole twice
    std::string html = renderer.head();
    std::string xml;
    xml.reserve(store.entries().size() * 1024);
    appendFileText(xml, k_xmlHead);
    std::string piece;
    for (const Entry& entry : store.entries()) {
        html += renderer.row(entry);
        piece.clear();
        appendXmlEntry(piece, entry, &renderer);
        appendFileText(xml, piece);
    }
    html += renderer.tail();
    appendFileText(xml, k_xmlEnd);
    // the export, the larger file, is written while the page is: each waits for its disk in its own time (one after
    // the other when no thread can be started)
    const auto writeXml = [&] {
        written.xml = platform::writeFileAtomic(platform::joinPath(reportDir, k_xmlExportName), xml);
    };
    std::thread xmlWriter;
    try {
        xmlWriter = std::thread(writeXml);
    } catch (const std::system_error&) {
        writeXml();
    }
    written.html = platform::writeFileAtomic(platform::joinPath(reportDir, k_htmlReportName), html);
    if (xmlWriter.joinable())
        xmlWriter.join();
    return written;
}

} // namespace tarnwick::core
