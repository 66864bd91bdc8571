#include "platform/result.h"

#include "platform/files.h"

#include <cstring>

namespace tarnwick::platform {

Result Result::systemFailure(int code)
{
    // a call that failed without saying why failed at the device
    const int known = code != 0 ? code : EIO;
    return Result(fileErrorText(known), known);
}

std::string Result::systemText() const
{
    return m_code != 0 ? std::string(std::strerror(m_code)) : m_error;
}

} // namespace tarnwick::platform
