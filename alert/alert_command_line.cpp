#include "alert/alert_command_line.h"

#include "platform/text.h"

std::u16string AlertPathFromArguments(const std::vector<std::string>& arguments) {
    std::u16string path;
    for (size_t i = 0; i < arguments.size(); ++i) {
        if (i != 0) path += u' ';
        path += platform::toUtf16(arguments[i]);
    }
    return path;
}
