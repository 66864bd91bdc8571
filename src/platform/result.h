#pragma once

#include <string>
#include <utility>

namespace tarnwick::platform {

// What an operation that may fail came to: success, or the text that says why not. Every layer returns one
// where it reports a failure, except two that have a form of their own: the worker tasks throw the error
// classes of tasks/, and the rules and update steps return their message texts (empty on success).
class [[nodiscard]] Result {
public:
    // Success.
    Result() = default;
    static Result failure(std::string why) { return Result(std::move(why)); }

    explicit operator bool() const { return !m_failed; }
    // Why it failed; empty on success.
    const std::string& error() const { return m_error; }

private:
    explicit Result(std::string why) : m_error(std::move(why)), m_failed(true) {}

    std::string m_error;
    bool m_failed = false;
};

} // namespace tarnwick::platform
