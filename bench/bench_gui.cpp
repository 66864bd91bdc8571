// Figures of the desktop program, offscreen, with COUNT entries (100,000 unless
// TARNWICK_BENCH_ENTRIES says otherwise): start-up to first paint, a sort by each
// column, each keystroke of a filter typed and taken back, the longest stretch the
// user-interface thread goes without handling events while edits are saved, and
// the same during an update run against the local office simulator (when a rules
// file for it is given). The data file is written in the list's order, as the window
// leaves it; TARNWICK_BENCH_SHUFFLED=1 leaves it shuffled (after an import, say).
// TARNWICK_BENCH_NO_IDLE=1 types the filter right after the sorts; TARNWICK_BENCH_COLD=1 sorts
// and types without a moment's idle time from the first paint on;
// TARNWICK_BENCH_FIRST_PAINT_ONLY=1 stops after the first paint (for a profile);
// TARNWICK_BENCH_PICTURE=FILE.png keeps the window as first painted; TARNWICK_BENCH_HISTORY=N
// times the details of a selection with N changes recorded.
//
// usage: QT_QPA_PLATFORM=offscreen bench_gui [OFFICE_RULES_FILE]
#include "app/application.h"
#include "app/commands.h"
#include "app/entrycommands.h"
#include "app/historylines.h"
#include "app/mainstate.h"
#include "app/sorting.h"
#include "app/startup.h"
#include "core/datafile.h"
#include "core/entrystore.h"
#include "core/fieldtable.h"
#include "core/identifier.h"
#include "gui/mainwindow.h"
#include "notify/history.h"
#include "platform/files.h"
#include "support/scripteddialogs.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPaintEvent>
#include <QTableView>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <time.h>

using namespace tarnwick;

namespace {

// Notes the first paint of the entry list.
class PaintWatch : public QObject {
public:
    bool eventFilter(QObject*, QEvent* e) override
    {
        if (e->type() == QEvent::Paint && !painted)
            painted = true;
        return false;
    }
    bool painted = false;
};

void writeEntries(const std::string& logDir, int count)
{
    std::mt19937 random(7);
    core::EntryStore store;
    store.reserve(static_cast<size_t>(count));
    const char* const words[] = {"HARROW", "KESTREL", "LANTERN", "MERIDIAN", "OSPREY", "SABLE", "UMBRA"};
    for (int i = 0; i < count; ++i) {
        core::Entry e;
        core::setIdentifier(e, std::to_string(75000001 + i));
        e.Reference = "REF-" + std::to_string(random() % 100000);
        e.Trademark = std::string(words[random() % 7]) + " " + words[random() % 7];
        e.Frequency = static_cast<core::Frequency>(random() % 5);
        e.LastUpdate = static_cast<int>(40000 + random() % 6000);
        e.LastChange = static_cast<int>(38000 + random() % 8000);
        e.StatusDate = std::to_string(1990 + random() % 30) + "-0" + std::to_string(1 + random() % 9) + "-1" +
                       std::to_string(random() % 10);
        e.StatusText = random() % 2 ? "Registered." : "Non-final action e-mailed.";
        e.Owner = "Owner " + std::to_string(random() % 500);
        e.RegNum = random() % 3 ? std::to_string(3000000 + i) : "";
        store.appendEntry(std::move(e));
    }
    // the file as the window leaves it, in the list's order (Frequency), unless told to leave it shuffled as an
    // import or another program may
    if (!std::getenv("TARNWICK_BENCH_SHUFFLED"))
        app::moveEntries(store, app::sortedPositions(store.entries(), {0, false}));
    store.setLoadOk(true);
    (void)core::saveDataFile(store, logDir);
}

// The processor time this process has used, in milliseconds: on a shared machine the wall time also counts the
// waits for a core.
double cpuMs()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1000.0 + static_cast<double>(t.tv_nsec) / 1e6;
}

double ms(std::chrono::steady_clock::time_point from)
{
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - from).count();
}

// The machine's load, printed beside the figures: the cores are shared.
void printLoad(const char* when)
{
    std::ifstream in("/proc/loadavg");
    std::string line;
    std::getline(in, line);
    std::printf("load %s: %s\n", when, line.c_str());
}

// The longest gap between two ticks of a 5 ms timer from its making to stop(): how long the user-interface thread
// went without handling events.
class BlockProbe {
public:
    BlockProbe()
    {
        m_probe.setInterval(5);
        QObject::connect(&m_probe, &QTimer::timeout, [this] { m_longest = std::max(m_longest, m_since.restart()); });
        m_since.start();
        m_probe.start();
    }
    qint64 stop()
    {
        m_probe.stop();
        return m_longest;
    }

private:
    QElapsedTimer m_since;
    qint64 m_longest = 0;
    QTimer m_probe;
};

// The longest block while `work` runs from the event loop for `spanMs`.
qint64 longestBlock(int spanMs, const std::function<void()>& work)
{
    BlockProbe probe;
    QTimer::singleShot(20, work);
    QElapsedTimer span;
    span.start();
    while (span.elapsed() < spanMs)
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 5);
    return probe.stop();
}

} // namespace

int main(int argc, char** argv)
{
    QApplication qt(argc, argv);
    const std::string dir = std::filesystem::temp_directory_path() / ("tarnwick-bench-gui-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir + "/log/Tarnwick");
    (void)platform::writeFileAtomic(dir + "/settings.ini", "");
    const char* entriesWanted = std::getenv("TARNWICK_BENCH_ENTRIES");
    const int count = entriesWanted ? std::max(1, std::atoi(entriesWanted)) : 100000;
    printLoad("before");
    writeEntries(dir + "/log", count);
    if (argc > 1)
        (void)platform::writeFileAtomic(dir + "/log/Tarnwick/rules.txt", platform::readFile(argv[1]).value_or(""));

    {
        // the start's own parts, apart: reading the data file, the list's first sort, moving the entries
        core::EntryStore scratch;
        auto t = std::chrono::steady_clock::now();
        (void)core::loadDataFile(scratch, dir + "/log");
        const double read = ms(t);
        t = std::chrono::steady_clock::now();
        const std::vector<size_t> moves = app::sortedPositions(scratch.entries(), {0, false});
        const double sort = ms(t);
        t = std::chrono::steady_clock::now();
        app::moveEntries(scratch, moves);
        std::printf("start's parts: data file read %.1f ms, first sort %.1f ms, entries moved %.1f ms\n", read, sort,
                    ms(t));
    }
    {
        app::AppContext context(dir + "/settings.ini");
        context.settings.setValue(base::setting::LogDir, dir + "/log");
        context.settings.setValue(base::setting::OrgName, "Bench");
        context.rules.load(dir + "/log");
        test::ScriptedDialogs dialogs;
        for (int i = 0; i < 8; ++i)
            dialogs.answers.push_back(base::Answer::No);

        const auto start = std::chrono::steady_clock::now();
        const double cpuStart = cpuMs();
        gui::MainWindow window(context, app::startApplication(context, app::systemPlaces()), false, dialogs);
        const double made = ms(start);
        PaintWatch watch;
        window.table()->viewport()->installEventFilter(&watch);
        window.open();
        const double opened = ms(start);
        window.resize(1280, 700);
        window.show();
        const double shown = ms(start);
        while (!watch.painted)
            QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 5);
        std::printf("start-up to first paint, %d entries (data file %s): %.1f ms (window made %.1f, list read and "
                    "ordered %.1f, shown %.1f; processor time %.1f ms)\n",
                    count, std::getenv("TARNWICK_BENCH_SHUFFLED") ? "shuffled" : "in the list's order", ms(start), made,
                    opened, shown, cpuMs() - cpuStart);
        // the window as first painted, to look at
        if (const char* picture = std::getenv("TARNWICK_BENCH_PICTURE"))
            window.grab().save(QString::fromLocal8Bit(picture));
        // for a profile of the start alone
        if (std::getenv("TARNWICK_BENCH_FIRST_PAINT_ONLY")) {
            std::filesystem::remove_all(dir);
            return 0;
        }

        // a second of idle time, as a user takes before a click or a key (none when told so)
        auto idle = [](const char* unlessTold) {
            if (std::getenv(unlessTold) || std::getenv("TARNWICK_BENCH_COLD"))
                return;
            QElapsedTimer idle;
            idle.start();
            while (idle.elapsed() < 1000)
                QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 5);
        };
        // the user looks at the list before clicking a header
        idle("TARNWICK_BENCH_COLD");
        std::printf("sort of %d rows by column (header click, then the list painted):\n", count);
        double worst = 0;
        for (int column = 0; column < core::k_fieldCount - 1; ++column) {
            const auto t = std::chrono::steady_clock::now();
            window.runCommand(app::columnCommand(app::Command::HeaderColumn, column));
            window.table()->viewport()->repaint();
            const double took = ms(t);
            worst = std::max(worst, took);
            std::printf("  %-14s %7.1f ms\n",
                        std::string(core::fieldInfo(static_cast<core::FieldId>(column)).columnCaption).c_str(), took);
        }
        std::printf("  slowest        %7.1f ms\n", worst);

        // a filter typed one key at a time, then taken back; each key's time runs until the list is painted. The
        // user reaches for the filter box after the sort
        idle("TARNWICK_BENCH_NO_IDLE");
        std::printf("filter keystrokes over %d rows (text changed, then the list painted):\n", count);
        const QString typed = QStringLiteral("kestrel 7");
        double worstKey = 0;
        auto key = [&](const QString& text) {
            const auto t = std::chrono::steady_clock::now();
            window.filter()->setText(text);
            window.table()->viewport()->repaint();
            const double took = ms(t);
            worstKey = std::max(worstKey, took);
            std::printf("  %-12s %5d rows %7.1f ms\n", qPrintable(QLatin1Char('"') + text + QLatin1Char('"')),
                        window.table()->model()->rowCount(), took);
        };
        for (qsizetype n = 1; n <= typed.size(); ++n)
            key(typed.left(n));
        for (qsizetype n = typed.size() - 1; n >= 0; --n)
            key(typed.left(n));
        std::printf("  slowest      %7.1f ms\n", worstKey);

        // an edit (a frequency changed) is saved at once; typing must not wait for the data file
        double worstEdit = 0;
        qint64 worstBlock = 0;
        for (int i = 0; i < 5; ++i) {
            double took = 0;
            const qint64 block = longestBlock(400, [&] {
                const auto t = std::chrono::steady_clock::now();
                app::setFrequency(window.state(), {i}, i % 2 ? core::Frequency::Weekly : core::Frequency::Monthly);
                took = ms(t);
            });
            worstEdit = std::max(worstEdit, took);
            worstBlock = std::max(worstBlock, block);
        }
        std::printf("edit saved, %d entries: the edit's call %.1f ms; longest UI-thread block %lld ms\n", count,
                    worstEdit, static_cast<long long>(worstBlock));

        // the details of one entry after another, with a history of TARNWICK_BENCH_HISTORY changes: as the window
        // reads them (by the lines' places) and by a pass over the whole file
        if (const char* changes = std::getenv("TARNWICK_BENCH_HISTORY")) {
            std::string text(notify::historyHeader());
            const int records = std::max(1, std::atoi(changes));
            for (int i = 0; i < records; ++i)
                notify::appendHistoryLine(text, {"2026-12-01", context.entries.at(i % count).SerNum, "REF",
                                                 "StatusText", "Non-final action e-mailed.", "Registered."});
            (void)platform::writeFileAtomic(platform::joinPath(context.logDir(), notify::k_historyFileName), text);
            text = {};
            app::HistoryLines lines;
            for (const bool byPlace : {true, false}) {
                std::printf("details with %d changes recorded (%s):", records,
                            byPlace ? "the lines' places" : "the whole file read");
                for (int i = 0; i < 4; ++i) {
                    const auto t = std::chrono::steady_clock::now();
                    (void)app::detailsText(context, {i * 7}, byPlace ? &lines : nullptr);
                    std::printf(" %.1f", ms(t));
                }
                std::printf(" ms\n");
            }
        }

        if (argc > 1) {
            // the longest gap between two ticks of a 5 ms timer while Update All runs on 200 due entries
            for (int i = 200; i < context.entries.count(); ++i)
                context.entries.at(i).Frequency = core::Frequency::Never, context.entries.at(i).LastUpdate = 40000;
            for (int i = 0; i < 200; ++i)
                context.entries.at(i).LastUpdate = 0;
            BlockProbe probe;
            const auto t = std::chrono::steady_clock::now();
            window.runCommand(app::Command::UpdateAll);
            const qint64 longest = probe.stop();
            std::printf("update run of 200 due entries: %.0f ms; longest UI-thread block: %lld ms\n", ms(t),
                        static_cast<long long>(longest));
        }
    }
    printLoad("after");
    std::filesystem::remove_all(dir);
    return 0;
}
