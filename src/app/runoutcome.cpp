#include "app/runoutcome.h"

#include "core/text.h"
#include "update/updaterun.h"

namespace tarnwick::app {

namespace {

std::string counts(const update::RunSummary& summary, int sent)
{
    return core::counted(summary.changed, "mark", "marks") + " changed, " + std::to_string(summary.failed) +
           " failed, " + core::counted(sent, "message", "messages") + " sent.";
}

std::string entries(const update::RunSummary& summary)
{
    return std::string(summary.selectedOnly ? " selected" : "") + (summary.due == 1 ? " entry" : " entries");
}

} // namespace

std::string runClosingText(const update::RunSummary& summary, int sent)
{
    const int failed = summary.failed;
    const std::string selected = summary.selectedOnly ? " selected" : "";
    std::string text;
    if (summary.cancelled)
        text = "The update was canceled after " + std::to_string(summary.reached) + " of the " +
               std::to_string(summary.due) + entries(summary) +
               (summary.reached < summary.due ? "; the others were left as they were." : ".");
    else if (failed == 0)
        text = "All" + selected + " entries have been successfully updated.";
    else if (summary.due <= 1)
        text = "The" + selected + " entry was not updated.";
    else
        text = std::to_string(failed) + " of the " + std::to_string(summary.due) + entries(summary) +
               (failed == 1 ? " was" : " were") + " not updated.";
    text += "\n\n" + counts(summary, sent);
    if (failed > 0 && !summary.firstFailure.empty())
        text += (failed == 1 ? "\n\n" : "\n\nThe first, ") + summary.firstFailedFor + ": " + summary.firstFailure;
    if (failed > 1)
        text += "\n\nThe Error column gives each entry's reason.";
    if (summary.noRecord > 0)
        text += "\n\nThe trademark office has no record of " + core::counted(summary.noRecord, "entry", "entries") +
                "; its Error column says which.";
    if (summary.numbersNotTaken > 0)
        text += summary.numbersNotTaken == 1
                    ? "\n\nThe office's page of 1 entry gives a number that was not taken; its Error column says why."
                    : "\n\nThe office's pages of " + std::to_string(summary.numbersNotTaken) +
                          " entries give numbers that were not taken; their Error column says why.";
    return text;
}

std::string runStatusText(const update::RunSummary& summary, int sent)
{
    std::string text = summary.selectedOnly ? "Update Status (Selected)" : "Update Status (All)";
    if (summary.cancelled)
        text += " canceled after " + std::to_string(summary.reached) + " of " + std::to_string(summary.due);
    return text + ": " + counts(summary, sent);
}

} // namespace tarnwick::app
