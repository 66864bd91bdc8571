#pragma once

#include "base/frontend.h"

#include <string>
#include <utility>

namespace tarnwick::base {

// A variable holds `value` for the life of the scope and its old value again after, on every way out.
template <class T> class ScopedValue {
public:
    ScopedValue(T& place, T value) : m_place(place), m_old(std::exchange(place, std::move(value))) {}
    ~ScopedValue() { m_place = std::move(m_old); }
    ScopedValue(const ScopedValue&) = delete;
    ScopedValue& operator=(const ScopedValue&) = delete;

private:
    T& m_place;
    T m_old;
};

// The run display for the life of the scope.
class RunDisplay {
public:
    RunDisplay(FrontEnd& frontEnd, const std::string& caption, int range) : m_frontEnd(frontEnd)
    {
        frontEnd.runStart(caption, range);
    }
    ~RunDisplay() { m_frontEnd.runEnd(); }
    RunDisplay(const RunDisplay&) = delete;
    RunDisplay& operator=(const RunDisplay&) = delete;

private:
    FrontEnd& m_frontEnd;
};

// The operation display of one network operation for the life of the scope.
class OperationDisplay {
public:
    OperationDisplay(FrontEnd& frontEnd, int timeoutSeconds) : m_frontEnd(frontEnd)
    {
        frontEnd.operationStart(timeoutSeconds);
    }
    ~OperationDisplay() { m_frontEnd.operationEnd(); }
    OperationDisplay(const OperationDisplay&) = delete;
    OperationDisplay& operator=(const OperationDisplay&) = delete;

private:
    FrontEnd& m_frontEnd;
};

// A busy mark for the life of the scope: `flag`, which refuses other operations, is set before the front end
// shows itself busy and cleared before it stops, so that what the front end enables then sees the flag.
class BusyScope {
public:
    BusyScope(bool& flag, FrontEnd& frontEnd) : m_flag(flag), m_frontEnd(frontEnd)
    {
        flag = true;
        frontEnd.setBusy(true);
    }
    ~BusyScope()
    {
        m_flag = false;
        m_frontEnd.setBusy(false);
    }
    BusyScope(const BusyScope&) = delete;
    BusyScope& operator=(const BusyScope&) = delete;

private:
    bool& m_flag;
    FrontEnd& m_frontEnd;
};

} // namespace tarnwick::base
