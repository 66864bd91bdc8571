#pragma once

#include <stdexcept>
#include <string>

namespace tarnwick::tasks {

// An error that carries one user-readable message across subsystems.
class CAppError : public std::runtime_error {
public:
    explicit CAppError(std::string message);
    // The message given at construction (its own copy, never the base's).
    const std::string& message() const { return m_message; }

private:
    std::string m_message;
};

class CCanceledError : public CAppError {
public:
    CCanceledError();
};

class CTimedoutError : public CAppError {
public:
    CTimedoutError();
};

class CThreadsNotDoneError : public CAppError {
public:
    CThreadsNotDoneError();
};

// A job of a worker task failed; carries the job's message.
class CAsyncError : public CAppError {
public:
    explicit CAsyncError(std::string message);
};

// The mail server refused the access token of an OAuth sign-in. A fresh token may succeed, so the caller
// may refresh it once and send again; the message says what the server answered.
class CTokenRejectedError : public CAppError {
public:
    explicit CTokenRejectedError(std::string message);
};

} // namespace tarnwick::tasks
