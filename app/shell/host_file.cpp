#include "app/shell/host_file.h"

#include "platform/text.h"

bool OpenHostFileForWriting(const std::u16string& windowsPath, std::ofstream& out) {
    std::u16string host = windowsPath;
    // Drive C: is the host root.
    if (host.size() >= 2 && host[1] == u':' && (host[0] == u'C' || host[0] == u'c')) {
        host.erase(0, 2);
    }
    for (char16_t& c : host) {
        if (c == u'\\') c = u'/';
    }
    out.open(platform::toUtf8(host), std::ios::binary | std::ios::out | std::ios::trunc);
    return out.is_open();
}
