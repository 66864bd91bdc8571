// Renders the desktop program's windows to PNG files: the main window with its
// entries, the main window during an update run, the details window and the
// TCP/IP flow window after the run, the main window after a later run that found
// changes and mailed them, with the details of a changed entry and the list
// narrowed by the filter (when the office simulator's port is given), the
// configuration and advanced dialogs.
//
// usage: tarnwick_screenshot SETTINGS OUTDIR [SUFFIX [OFFICE-PORT]]
#include "app/application.h"
#include "app/commands.h"
#include "app/docketcommands.h"
#include "app/startup.h"
#include "core/fieldtable.h"
#include "gui/configdialog.h"
#include "gui/deadlineswindow.h"
#include "gui/mainwindow.h"
#include "gui/sidewindows.h"
#include "support/loopback.h"
#include "support/scripteddialogs.h"

#include <QApplication>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QTableView>
#include <QTimer>

#include <filesystem>
#include <iostream>

using namespace tarnwick;

namespace {

// A control request to the office simulator on 127.0.0.1 ("/sim/day?d=1000").
void simulator(int port, const std::string& path)
{
    (void)test::loopbackGet(port, path);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::cerr << "usage: tarnwick_screenshot SETTINGS OUTDIR [SUFFIX]\n";
        return 1;
    }
    QApplication qt(argc, argv);
    const QString out = QString::fromLocal8Bit(argv[2]) + QLatin1Char('/');
    const QString suffix = argc > 3 ? QString::fromLocal8Bit(argv[3]) : QString();
    auto save = [&](QWidget* w, const char* name) {
        const QString path = out + QLatin1String(name) + suffix + QStringLiteral(".png");
        if (!w->grab().save(path))
            std::cerr << "cannot write " << path.toStdString() << '\n';
        else
            std::cout << path.toStdString() << '\n';
    };

    // the run's closing message and any question take their default answer without a person
    test::ScriptedDialogs dialogs;
    app::AppContext context(argv[1]);
    // installed beside the settings, so that the installation check has nothing to ask
    // and writes no shortcut into the user's own folders
    app::StartupPlaces places = app::systemPlaces();
    places.programPath = (std::filesystem::path(argv[1]).parent_path() / "bin" / "tarnwick").string();
    context.settings.setValue(base::setting::Install, {});
    gui::MainWindow window(context, app::startApplication(context, places), false, dialogs);
    window.open();
    window.resize(1280, 560);
    window.show();
    QApplication::processEvents();
    window.table()->selectRow(1);
    QApplication::processEvents();
    save(&window, "main");

    // one picture while the run is under way
    QTimer::singleShot(120, &window, [&] { save(&window, "main-busy"); });
    window.runCommand(app::Command::UpdateAll);
    QApplication::processEvents();
    window.table()->selectRow(1);
    window.runCommand(app::Command::ViewDetails);
    window.runCommand(app::Command::ViewFlow);
    window.detailsWindow()->resize(620, 560);
    window.flowWindow()->resize(760, 480);
    QApplication::processEvents();
    save(&window, "main-after");
    save(window.detailsWindow(), "details");
    save(window.flowWindow(), "flow");

    // a later run finds changes and mails them at once; the office goes back to its day for the next pictures
    if (argc > 4) {
        const int port = std::atoi(argv[4]);
        simulator(port, "/sim/churn?mode=all");
        simulator(port, "/sim/day?d=1000");
        for (int p = 0; p < context.entries.count(); ++p)
            context.entries.at(p).LastUpdate = 0;
        window.runCommand(app::Command::UpdateAll);
        QApplication::processEvents();
        save(&window, "main-mailed");

        // the details of a changed entry with its recorded changes and its next deadline
        window.table()->selectRow(3);
        window.runCommand(app::Command::ViewDetails);
        QApplication::processEvents();
        save(window.detailsWindow(), "history");
        window.detailsWindow()->hide();

        // the filter narrows the list; the next deadline dragged next to the trademark
        QHeaderView* header = window.table()->horizontalHeader();
        const int deadlineAt = header->visualIndex(app::k_deadlineColumn);
        header->moveSection(deadlineAt, header->visualIndex(static_cast<int>(core::FieldId::Trademark)) + 1);
        window.filter()->setText(QStringLiteral("timber"));
        window.table()->selectionModel()->clearSelection();
        QApplication::processEvents();
        save(&window, "filter");
        window.filter()->clear();
        header->moveSection(header->visualIndex(app::k_deadlineColumn), deadlineAt);

        // every open deadline of the docket, the chosen one's entry selected in the main list
        window.deadlinesWindow()->present();
        window.deadlinesWindow()->resize(980, 420);
        QApplication::processEvents();
        save(window.deadlinesWindow(), "deadlines");
        window.deadlinesWindow()->hide();
        simulator(port, "/sim/reset?d=900");
    }

    // the dialogs as a firm on Microsoft 365 sees them once signed in
    context.settings.setValue(base::setting::UserName, "docket@demo.example");
    context.settings.setValue(base::setting::SmtpAuth, "oauth2");
    context.settings.setValue(base::setting::OAuthClientId, "4f1e0c2a-8d4b-4c55-9a57-2d1b7e6f0a91");
    context.settings.setPlainSecret(base::setting::OAuthRefreshToken, "demo");
    context.settings.setValue(base::setting::OAuthSignedIn, "2026-12-10T07:41Z docket@demo.example");
    gui::ConfigDialog configure(context.settings, window.frontEnd(), {}, &window);
    configure.show();
    QApplication::processEvents();
    save(&configure, "configure");
    gui::AdvancedDialog advanced(configure.values(), {}, &window, &context.settings, &window.frontEnd());
    advanced.show();
    QApplication::processEvents();
    save(&advanced, "advanced");
    return 0;
}
