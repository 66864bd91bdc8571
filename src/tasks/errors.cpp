#include "tasks/errors.h"

#include <utility>

namespace tarnwick::tasks {

CAppError::CAppError(std::string message) : std::runtime_error(message), m_message(std::move(message)) {}

CCanceledError::CCanceledError() : CAppError("Operation canceled.") {}

CTimedoutError::CTimedoutError() : CAppError("Operation timed out.") {}

CThreadsNotDoneError::CThreadsNotDoneError() : CAppError("One or more threads refuses to quit.") {}

CAsyncError::CAsyncError(std::string message) : CAppError(std::move(message)) {}

CTokenRejectedError::CTokenRejectedError(std::string message) : CAppError(std::move(message)) {}

} // namespace tarnwick::tasks
