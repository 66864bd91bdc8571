#pragma once

#include <cerrno>
#include <optional>
#include <string>
#include <utility>

namespace tarnwick::platform {

// What an operation that may fail came to: success, or the text that says why not. Every layer returns one
// where it reports a failure, except two that have a form of their own: the worker tasks throw the error
// classes of tasks/, and the rules and update steps return their message texts (empty on success).
// A failed system call keeps its error number, so that a caller can tell a missing file from a broken one
// without reading errno after the fact.
class [[nodiscard]] Result {
public:
    // Success.
    Result() = default;
    static Result failure(std::string why) { return Result(std::move(why), 0); }
    // A system call failed with error number `code` (EIO when it left none): error() tells why in words for the
    // user, a refused symbolic link saying so.
    static Result systemFailure(int code);

    explicit operator bool() const { return !m_failed; }
    // Why it failed; empty on success.
    const std::string& error() const { return m_error; }
    // The error number of a failed system call; 0 on success and for other failures.
    int code() const { return m_code; }
    // There is no such file (or folder on the way).
    bool missing() const { return m_code == ENOENT; }
    // A folder on the way to the file is a file.
    bool noFolder() const { return m_code == ENOTDIR; }
    // Another process held a lock for longer than the operation would wait.
    bool lockHeld() const { return m_code == EWOULDBLOCK; }
    // Refused as no regular file: a FIFO, a device or a folder where a file was to be read.
    bool notRegular() const { return m_code == EINVAL; }
    // The system's own words for a failed system call, without the gloss error() gives a refused link; the
    // same as error() for other failures.
    std::string systemText() const;

private:
    Result(std::string why, int code) : m_error(std::move(why)), m_code(code), m_failed(true) {}

    std::string m_error;
    int m_code = 0;
    bool m_failed = false;
};

// What a read that may fail came to: the value, or the failure that says why there is none. It reads as a
// std::optional (`if (!bytes)`, `*bytes`, `bytes->size()`, `value_or`) and keeps the reason beside it.
template <typename T> class [[nodiscard]] ResultOf : public std::optional<T> {
public:
    using std::optional<T>::optional;
    // A failed read; `failure` is a failed Result.
    ResultOf(Result failure) : m_failure(std::move(failure)) {}

    // Why there is no value; success when there is one.
    const Result& result() const { return m_failure; }
    const std::string& error() const { return m_failure.error(); }
    int code() const { return m_failure.code(); }
    bool missing() const { return m_failure.missing(); }
    bool noFolder() const { return m_failure.noFolder(); }
    bool lockHeld() const { return m_failure.lockHeld(); }
    bool notRegular() const { return m_failure.notRegular(); }
    std::string systemText() const { return m_failure.systemText(); }

private:
    Result m_failure;
};

} // namespace tarnwick::platform
