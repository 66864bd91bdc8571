#include "cli/session.h"

#include "app/entrycommands.h"
#include "core/identifier.h"
#include "net/flowlog.h"

#include <iostream>

namespace tarnwick::cli {

namespace {

// lives for the process: a job cut loose may still log after its wait
net::FlowLog& processFlowLog()
{
    static net::FlowLog flowLog;
    flowLog.setEnabled(false);
    return flowLog;
}

} // namespace

Session::Session(const Invocation& inv)
    : app(base::settingsPath(inv.settingsOption)), frontEnd(inv.out, inv.err, inv.in, inv.process),
      state(app, frontEnd, processFlowLog()), m_inv(inv)
{
    state.setWaker([this] { frontEnd.wake(); });
    // Ctrl-C is the Cancel command: sockets first, then the cancel reason
    frontEnd.setInterruptHandler([this] { state.cancel(base::RunState::Cancelled); });
    state.setOperationTimeoutMs(app::MainState::timeoutFromSetting(app.settings.value(base::setting::Timeout)));
}

Session::~Session()
{
    // the lock is still held: a setting that cannot be written is lost, silently
    (void)app.settings.writeAll();
}

std::unique_ptr<Session> Session::open(const Invocation& inv, bool writing)
{
    return open(inv, Needs{writing});
}

std::unique_ptr<Session> Session::open(const Invocation& inv, const Needs& needs)
{
    std::unique_ptr<Session> s(new Session(inv));
    if (needs.logDir && s->app.logDir().empty()) {
        inv.err << "tarnwick-cli: no logging directory is set (config set LogDir DIR)\n";
        return nullptr;
    }
    if (needs.writing) {
        if (const platform::Result locked = s->lock.acquire(s->app.logDir()); !locked) {
            inv.err << locked.error() << "\n";
            return nullptr;
        }
    }
    if (needs.entries == Needs::Entries::Unread)
        return s;
    if (const platform::Result loaded = s->app.loadEntries(); !loaded && needs.entries == Needs::Entries::Required) {
        inv.err << loaded.error() << "\n";
        return nullptr;
    }
    return s;
}

bool Session::saveEntries()
{
    const platform::Result saved = state.saveEntries();
    // the settings are written again when the session ends; a failure then is lost as the program's own is
    (void)app.settings.writeAll();
    if (!saved)
        err() << "tarnwick-cli: " << saved.error() << "\n";
    return bool(saved);
}

std::optional<int> entryArgument(const Session& session, const std::string& typed)
{
    core::Entry probe(core::k_noDay);
    if (std::optional<std::string> refusal = core::setIdentifier(probe, typed)) {
        session.err() << typed << ": " << refusal->substr(0, refusal->find('\n')) << "\n";
        return std::nullopt;
    }
    std::optional<int> position = app::findByNumber(session.app.entries, typed);
    if (!position)
        session.err() << typed << ": no such entry\n";
    return position;
}

std::string entryLabel(const core::Entry& e)
{
    const std::string& number = !e.SerNum.empty() ? e.SerNum : (!e.RegNum.empty() ? e.RegNum : e.IntNum);
    return e.Reference.empty() ? number : e.Reference + " " + number;
}

} // namespace tarnwick::cli
