#pragma once

#include "app/application.h"
#include "app/mainstate.h"
#include "base/settings.h"
#include "net/flowlog.h"
#include "support/scriptedfrontend.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace tarnwick::test {

// The window's state over an application context whose settings file lies in a temporary folder, shown
// through a scripted front end (`View`). Each open is a start of the program: a new context, a new state.
template <class View = ScriptedFrontEnd> class MainStateFixture : public ::testing::Test {
protected:
    using Values = std::vector<std::pair<base::SettingKey, std::string>>;

    // A new context on the folder's settings.ini with `values` set, and a new state over it.
    app::AppContext& open(const Values& values = {})
    {
        m_state.reset();
        m_app = std::make_unique<app::AppContext>(m_dir.file("settings.ini"));
        for (const auto& [name, value] : values)
            m_app->settings.setValue(name, value);
        m_state = std::make_unique<app::MainState>(*m_app, m_view, m_flow);
        return *m_app;
    }
    // As `open`, with the logging directory in the folder and an empty data file read.
    app::AppContext& openInFolder(Values values = {})
    {
        values.insert(values.begin(), {base::setting::LogDir, m_dir.path()});
        app::AppContext& app = open(values);
        app.entries.setLoadOk(true);
        return app;
    }

    TempDir m_dir;
    View m_view;
    net::FlowLog m_flow;
    std::unique_ptr<app::AppContext> m_app;
    std::unique_ptr<app::MainState> m_state;
};

} // namespace tarnwick::test
