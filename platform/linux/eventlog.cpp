#include "platform/eventlog.h"

#include <fcntl.h>
#include <syslog.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "platform/error.h"
#include "platform/text.h"

namespace platform {

uint32_t reportEvent(std::u16string_view source, uint16_t type, uint16_t category, uint32_t eventId,
                     const std::vector<std::u16string>& strings) {
    if (source.empty()) {
        setLastError(kErrorInvalidParameter);
        return kErrorInvalidParameter;
    }
    const char* typeName = type == kEventLogError     ? "error"
                           : type == kEventLogWarning ? "warning"
                                                      : "information";
    const int priority = type == kEventLogError     ? LOG_ERR
                         : type == kEventLogWarning ? LOG_WARNING
                                                    : LOG_INFO;
    std::string text;
    for (const std::u16string& part : strings) {
        if (!text.empty()) text += ": ";
        text += toUtf8(part);
    }
    const std::string ident = toUtf8(source);
    ::openlog(ident.c_str(), LOG_PID | LOG_NDELAY, LOG_DAEMON);
    ::syslog(priority, "[%s] %s", typeName, text.c_str());
    ::closelog();
    if (const char* file = std::getenv("ORVANE_EVENT_LOG"); file && *file) {
        std::string line = ident + ": [" + typeName + "] " + text + " (category " +
                           std::to_string(category) + ", event " + std::to_string(eventId) + ")\n";
        int fd = ::open(file, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd >= 0) {
            (void)!::write(fd, line.data(), line.size());
            ::close(fd);
        }
    }
    setLastError(kErrorSuccess);
    return kErrorSuccess;
}

}  // namespace platform
