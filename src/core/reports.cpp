#include "core/reports.h"

#include "core/entrystore.h"
#include "core/text.h"
#include "core/textfile.h"
#include "platform/files.h"
#include "platform/terminal.h"

namespace tarnwick::core {

std::string htmlReport(const EntryStore& store, ReportRenderer& renderer)
{
    std::string out = renderer.head();
    for (const Entry& entry : store.entries())
        out += renderer.row(entry);
    out += renderer.tail();
    return out;
}

std::string xmlExport(const EntryStore& store, ReportRenderer* renderer)
{
    std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Entries>\n";
    for (const Entry& entry : store.entries()) {
        out += " <Entry>\n";
        for (const FieldInfo& field : fieldTable()) {
            out += "  <";
            out += field.key;
            out += '>';
            out += escapeXml(entry.valueText(field.id, false));
            out += "</";
            out += field.key;
            out += ">\n";
        }
        if (renderer)
            out += renderer->xmlElements(entry);
        out += " </Entry>\n";
    }
    out += "</Entries>\n";
    // values keep the bytes their pages had: UTF-8 stays, any other byte is read as Windows-1252
    return platform::utf8Text(out);
}

ReportsWritten WriteReports(const EntryStore& store, const std::string& reportDir, ReportRenderer& renderer)
{
    ReportsWritten written;
    if (reportDir.empty())
        return written;
    written.html =
        platform::writeFileAtomic(platform::joinPath(reportDir, k_htmlReportName), htmlReport(store, renderer));
    written.xml = platform::writeFileAtomic(platform::joinPath(reportDir, k_xmlExportName),
                                            toTextMode(xmlExport(store, &renderer)));
    return written;
}

} // namespace tarnwick::core
