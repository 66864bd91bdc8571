#pragma once

#include "base/frontend.h"
#include "tasks/taskhost.h"

#include <chrono>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace tarnwick::test {

// A front end that records every call and answers message boxes from a script
// (the default answer once the script is used up).
class ScriptedFrontEnd : public base::FrontEnd, public tasks::TaskHost {
public:
    using Box = base::MessageBox;

    void nextAnswer(base::Answer a) { m_answers.push_back(a); }
    void nextInput(std::optional<std::string> text) { m_inputs.push_back(std::move(text)); }
    // Every asking of `question` gets `a`, before the scripted answers.
    void answerFor(base::Question question, base::Answer a) { m_fixed[question] = a; }

    base::Answer messageBox(const base::MessageBox& box) override
    {
        boxes.push_back(box);
        events.push_back("box:" + box.text);
        if (const auto it = m_fixed.find(box.question); it != m_fixed.end())
            return it->second;
        if (m_answers.empty())
            return box.defaultAnswer;
        base::Answer a = m_answers.front();
        m_answers.pop_front();
        return a;
    }
    std::optional<std::string> textInput(const std::string& title, const std::string&, const std::string&) override
    {
        events.push_back("input:" + title);
        if (m_inputs.empty())
            return std::nullopt;
        auto t = m_inputs.front();
        m_inputs.pop_front();
        return t;
    }
    void runStart(const std::string& caption, int range) override
    {
        runCaption = caption;
        runRange = range;
        events.push_back("runStart:" + caption + ":" + std::to_string(range));
    }
    void runPosition(int position) override
    {
        positions.push_back(position);
        events.push_back("runPosition:" + std::to_string(position));
    }
    void runEnd() override { events.push_back("runEnd"); }
    void operationStart(int seconds) override { events.push_back("operationStart:" + std::to_string(seconds)); }
    void operationEnd() override { events.push_back("operationEnd"); }
    void statusLine(const std::string& text) override
    {
        statusLines.push_back(text);
        events.push_back("status:" + text);
    }
    void setBusy(bool busy) override { events.push_back(busy ? "busy" : "idle"); }
    void rowChanged(int position) override { events.push_back("row:" + std::to_string(position)); }
    void dispatch(int maxWaitMs) override
    {
        ++dispatches;
        if (onDispatch)
            onDispatch();
        (void)maxWaitMs;
    }
    bool cancelRequested() const override { return cancel; }

    std::vector<Box> boxes;
    std::vector<std::string> events;
    std::vector<std::string> statusLines;
    std::vector<int> positions;
    std::string runCaption;
    int runRange = -1;
    int dispatches = 0;
    bool cancel = false;
    std::function<void()> onDispatch;

private:
    std::deque<base::Answer> m_answers;
    std::map<base::Question, base::Answer> m_fixed;
    std::deque<std::optional<std::string>> m_inputs;
};

// The scripted front end, waiting a little in each dispatch as a window would.
class WaitingFrontEnd : public ScriptedFrontEnd {
public:
    void dispatch(int maxWaitMs) override
    {
        ScriptedFrontEnd::dispatch(maxWaitMs);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
};

} // namespace tarnwick::test
