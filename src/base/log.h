#pragma once

#include <string>
#include <string_view>

namespace tarnwick::base {

class AppSettings;
class FrontEnd;

// The plain-text diary in the logging directory ("Tarnwick.log"): one record per
// call, prefixed with the UTC time stamp and "> ", CR LF line ends, cut back to a
// marker line and its last 10000 characters once it passes 100000 bytes. Never
// fails visibly; with no logging directory nothing is written anywhere. The file
// is UTF-8: records are converted as they are written (platform::utf8Text), and
// a log that an older version wrote in Windows-1252 is converted whole once.
class Log {
public:
    // Reads the logging directory (the `LogDir` setting) at every record.
    explicit Log(const AppSettings& settings);
    // A fixed logging directory (tests, tools).
    explicit Log(std::string logDir);

    // printf-style; the format texts end with "\n".
    void write(const char* format, ...) __attribute__((format(printf, 2, 3)));
    // A record whose message is already formatted (any bytes).
    void writeText(std::string_view message);

    // The log file's path; empty when no logging directory is set.
    std::string path() const;

private:
    std::string logDir() const;

    const AppSettings* m_settings = nullptr;
    std::string m_logDir;
    std::string m_checkedPath; // the log file known to be UTF-8
};

// The one route for user-visible errors: a leading "!" is dropped, "%s '%s'\n"
// (title, text) is logged, and the text is shown in an OK box captioned
// "Tarnwick® - title" that shows an error.
void errorReport(Log& log, FrontEnd& frontEnd, std::string_view text, std::string_view title);

} // namespace tarnwick::base
