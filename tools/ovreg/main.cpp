// ovreg: reads and writes the Orvane registry with the commands of Windows'
// reg: query, add, delete, export. Exit code 0 on success, 1 on failure.
#include <fstream>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "platform/error.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "tools/ovreg/reg_export.h"
#include "tools/ovreg/value_text.h"

namespace {

using platform::RegKey;
using platform::RegRoot;

constexpr char kNotFound[] =
    "ERROR: The system was unable to find the specified registry key or value.";
constexpr char kDone[] = "The operation completed successfully.";

constexpr char kUsage[] =
    "OVREG operation [parameters]\n"
    "\n"
    "  OVREG QUERY  KeyName [/v ValueName | /ve] [/s]\n"
    "  OVREG ADD    KeyName [/v ValueName | /ve] [/t Type] [/s Separator] [/d Data] [/f]\n"
    "  OVREG DELETE KeyName [/v ValueName | /ve | /va] [/f]\n"
    "  OVREG EXPORT KeyName FileName [/y]\n"
    "\n"
    "  KeyName    ROOT\\SubKey, ROOT being HKLM, HKCU, HKCR, HKU or HKCC\n"
    "             (or the long names, HKEY_LOCAL_MACHINE ...).\n"
    "  /v         the value to work on; /ve the default (unnamed) value;\n"
    "             /va every value of the key.\n"
    "  /t         REG_SZ (default), REG_EXPAND_SZ, REG_MULTI_SZ, REG_DWORD,\n"
    "             REG_QWORD, REG_BINARY, REG_NONE, or a type number.\n"
    "  /d         the data: text for strings, a decimal or 0x number for\n"
    "             REG_DWORD, REG_QWORD and numbered types (stored in 4 bytes),\n"
    "             hexadecimal digits for REG_BINARY and REG_NONE.\n"
    "  /s         with ADD, the REG_MULTI_SZ separator (default \\0); with\n"
    "             QUERY, list every sub-key too.\n"
    "  /f         no question before overwriting or deleting.\n"
    "  /y         EXPORT overwrites an existing file without asking.\n"
    "\n"
    "The registry file is $ORVANE_REGISTRY, else registry.db in the install root.\n";

int syntaxError(const std::string& operation) {
    std::cerr << "ERROR: Invalid syntax.\nType \"OVREG " << operation
              << (operation.empty() ? "" : " ") << "/?\" for usage.\n";
    return 1;
}

int failure(uint32_t code) {
    switch (code) {
        case platform::kErrorFileNotFound:
            std::cerr << kNotFound << "\n";
            break;
        case platform::kErrorAccessDenied:
            std::cerr << "ERROR: Access is denied.\n";
            break;
        case platform::kErrorRegistryIoFailed:
            std::cerr << "ERROR: The registry file " << platform::registryFilePath()
                      << " could not be opened or written.\n";
            break;
        case platform::kErrorBusy:
            std::cerr << "ERROR: The registry file is busy; try again.\n";
            break;
        default:
            std::cerr << "ERROR: The operation failed with error " << code << ".\n";
    }
    return 1;
}

// Asks on the terminal; only an answer starting with y or Y says yes.
bool confirm(const std::string& question) {
    std::cout << question << " " << std::flush;
    std::string answer;
    if (!std::getline(std::cin, answer)) {
        std::cout << "\n";
        return false;
    }
    return !answer.empty() && (answer[0] == 'y' || answer[0] == 'Y');
}

bool isSwitch(const std::string& arg, const char* name) {
    if (arg.size() < 2 || (arg[0] != '/' && arg[0] != '-')) return false;
    std::string rest = arg.substr(1);
    for (auto& c : rest)
        if (c >= 'A' && c <= 'Z') c = char(c + 32);
    return rest == name;
}

struct Options {
    std::u16string keyText;  // as typed, root expanded
    RegRoot root = RegRoot::LocalMachine;
    std::u16string subKey;
    std::optional<std::u16string> value;   // /v NAME, or "" for /ve
    bool allValues = false;                // /va
    std::optional<std::string> type;       // /t
    std::optional<std::string> data;       // /d
    std::optional<std::string> separator;  // /s with a value
    bool recursive = false;                // /s alone (query)
    bool force = false;                    // /f
    bool overwriteFile = false;            // /y
    std::vector<std::string> positional;
};

// Parses the switches after the operation; false on a syntax error.
bool parseOptions(const std::string& operation, int argc, char** argv, Options& o) {
    for (int i = 2; i < argc; ++i) {
        std::string arg = argv[i];
        auto next = [&](std::string& out) {
            if (i + 1 >= argc) return false;
            out = argv[++i];
            return true;
        };
        std::string text;
        if (isSwitch(arg, "v")) {
            if (o.value || !next(text)) return false;
            o.value = platform::toUtf16(text);
        } else if (isSwitch(arg, "ve")) {
            if (o.value) return false;
            o.value = std::u16string();
        } else if (isSwitch(arg, "va") && operation == "DELETE") {
            o.allValues = true;
        } else if (isSwitch(arg, "t") && operation == "ADD") {
            if (!next(text)) return false;
            o.type = text;
        } else if (isSwitch(arg, "d") && operation == "ADD") {
            if (!next(text)) return false;
            o.data = text;
        } else if (isSwitch(arg, "s") && operation == "ADD") {
            if (!next(text)) return false;
            o.separator = text;
        } else if (isSwitch(arg, "s") && operation == "QUERY") {
            o.recursive = true;
        } else if (isSwitch(arg, "f") && (operation == "ADD" || operation == "DELETE")) {
            o.force = true;
        } else if (isSwitch(arg, "y") && operation == "EXPORT") {
            o.overwriteFile = true;
        } else if (arg.size() > 1 && arg.size() <= 3 && (arg[0] == '/' || arg[0] == '-') &&
                   arg.find('/', 1) == std::string::npos) {
            return false;  // an unknown switch; longer texts are host file paths
        } else {
            o.positional.push_back(arg);
        }
    }
    if (o.positional.empty()) return false;
    if (o.allValues && o.value) return false;
    return true;
}

// The key of the command line; prints the error itself.
bool resolveKey(Options& o) {
    std::u16string text = platform::toUtf16(o.positional[0]);
    if (!platform::parseKeyPath(text, o.root, o.subKey)) {
        std::cerr << "ERROR: Invalid key name.\nType \"OVREG /?\" for usage.\n";
        return false;
    }
    o.keyText = platform::rootName(o.root, true);
    if (!o.subKey.empty()) o.keyText += u"\\" + o.subKey;
    return true;
}

std::string valueDisplayName(const std::u16string& name) {
    return name.empty() ? std::string("(Default)") : platform::toUtf8(name);
}

uint32_t readValue(const RegKey& key, const std::u16string& name, uint32_t& type,
                   std::string& data) {
    uint32_t size = 0;
    uint32_t rc = key.queryValue(name, &type, nullptr, &size);
    if (rc != 0) return rc;
    data.assign(size, '\0');
    rc = key.queryValue(name, &type, data.data(), &size);
    data.resize(size);
    return rc;
}

// The value's name as it was first written (names match in any case).
std::u16string storedName(const RegKey& key, const std::u16string& name) {
    std::vector<char16_t> buffer(16384);
    for (uint32_t index = 0;; ++index) {
        uint32_t length = uint32_t(buffer.size());
        if (key.enumValue(index, buffer.data(), &length, nullptr, nullptr, nullptr) != 0) break;
        std::u16string found(buffer.data(), length);
        if (platform::equalsIgnoreCase(found, name)) return found;
    }
    return name;
}

void printValue(const std::u16string& name, uint32_t type, const std::string& data) {
    std::cout << "    " << valueDisplayName(name) << "    " << ovreg::typeName(type) << "    "
              << ovreg::displayData(type, data) << "\n";
}

// One key as reg query lists it: the key, its values, then its sub-keys
// (or, with /s, each sub-key listed the same way).
uint32_t queryKey(RegRoot root, const std::u16string& subKey, const std::u16string& shown,
                  bool recursive) {
    RegKey key;
    uint32_t rc = RegKey::open(root, subKey, key);
    if (rc != 0) return rc;
    std::cout << platform::toUtf8(shown) << "\n";
    std::vector<char16_t> name(16384);
    std::string data;
    for (uint32_t index = 0;; ++index) {
        uint32_t nameLength = uint32_t(name.size()), type = 0, size = 0;
        rc = key.enumValue(index, name.data(), &nameLength, &type, nullptr, &size);
        if (rc == platform::kErrorNoMoreItems) break;
        if (rc != 0) return rc;
        std::u16string valueName(name.data(), nameLength);
        if (readValue(key, valueName, type, data) != 0) continue;  // removed meanwhile
        printValue(valueName, type, data);
    }
    std::cout << "\n";
    std::u16string child;
    for (uint32_t index = 0; key.enumKey(index, child) == 0; ++index) {
        std::u16string childKey = subKey.empty() ? child : subKey + u"\\" + child;
        if (recursive) {
            rc = queryKey(root, childKey, shown + u"\\" + child, true);
            if (rc != 0 && rc != platform::kErrorFileNotFound) return rc;
        } else {
            std::cout << platform::toUtf8(shown + u"\\" + child) << "\n";
        }
    }
    return 0;
}

int doQuery(Options& o) {
    if (o.positional.size() != 1) return syntaxError("QUERY");
    if (!resolveKey(o)) return 1;
    if (!o.value) {
        RegKey probe;
        uint32_t rc = RegKey::open(o.root, o.subKey, probe);
        if (rc != 0) return failure(rc);
        std::cout << "\n";
        rc = queryKey(o.root, o.subKey, o.keyText, o.recursive);
        return rc == 0 ? 0 : failure(rc);
    }
    RegKey key;
    uint32_t rc = RegKey::open(o.root, o.subKey, key);
    uint32_t type = 0;
    std::string data;
    if (rc == 0) rc = readValue(key, *o.value, type, data);
    if (rc != 0) return failure(rc);
    std::cout << "\n" << platform::toUtf8(o.keyText) << "\n";
    printValue(storedName(key, *o.value), type, data);
    std::cout << "\n";
    return 0;
}

int doAdd(Options& o) {
    if (o.positional.size() != 1) return syntaxError("ADD");
    if (!resolveKey(o)) return 1;
    uint32_t type = platform::kRegSz;
    if (o.type && !ovreg::parseType(*o.type, type)) {
        std::cerr << "ERROR: Invalid type " << *o.type << ".\nType \"OVREG ADD /?\" for usage.\n";
        return 1;
    }
    if (!o.value && (o.type || o.data)) return syntaxError("ADD");
    std::string bytes, error;
    if (o.value &&
        !ovreg::encodeData(type, o.data.value_or(""), o.separator.value_or(""), bytes, error)) {
        std::cerr << error << "\n";
        return 1;
    }
    RegKey key;
    uint32_t rc = RegKey::create(o.root, o.subKey, key);
    if (rc != 0) return failure(rc);
    if (o.value) {
        uint32_t size = 0;
        if (!o.force && key.queryValue(*o.value, nullptr, nullptr, &size) == 0 &&
            !confirm("Value " + valueDisplayName(*o.value) + " exists, overwrite(Yes/No)?")) {
            std::cout << "The operation was cancelled by the user.\n";
            return 1;
        }
        rc = key.setValue(*o.value, type, bytes.data(), uint32_t(bytes.size()));
        if (rc != 0) return failure(rc);
    }
    std::cout << kDone << "\n";
    return 0;
}

int doDelete(Options& o) {
    if (o.positional.size() != 1) return syntaxError("DELETE");
    if (!resolveKey(o)) return 1;
    RegKey key;
    uint32_t rc = RegKey::open(o.root, o.subKey, key);
    if (rc != 0) return failure(rc);
    if (o.value) {
        uint32_t size = 0;
        rc = key.queryValue(*o.value, nullptr, nullptr, &size);
        if (rc != 0) return failure(rc);
        if (!o.force &&
            !confirm("Delete the registry value " + valueDisplayName(*o.value) + " (Yes/No)?")) {
            std::cout << "The operation was cancelled by the user.\n";
            return 1;
        }
        rc = key.deleteValue(*o.value);
    } else if (o.allValues) {
        if (!o.force && !confirm("Delete all values under the registry key " +
                                 platform::toUtf8(o.keyText) + " (Yes/No)?")) {
            std::cout << "The operation was cancelled by the user.\n";
            return 1;
        }
        std::vector<char16_t> name(16384);
        for (;;) {
            uint32_t nameLength = uint32_t(name.size());
            rc = key.enumValue(0, name.data(), &nameLength, nullptr, nullptr, nullptr);
            if (rc == platform::kErrorNoMoreItems) {
                rc = 0;
                break;
            }
            if (rc == 0) rc = key.deleteValue(std::u16string(name.data(), nameLength));
            if (rc != 0) break;
        }
    } else {
        if (!o.force && !confirm("Permanently delete the registry key " +
                                 platform::toUtf8(o.keyText) + " (Yes/No)?")) {
            std::cout << "The operation was cancelled by the user.\n";
            return 1;
        }
        rc = platform::deleteTree(o.root, o.subKey);
    }
    if (rc != 0) return failure(rc);
    std::cout << kDone << "\n";
    return 0;
}

int doExport(Options& o) {
    if (o.positional.size() != 2 || o.value) return syntaxError("EXPORT");
    if (!resolveKey(o)) return 1;
    const std::string& file = o.positional[1];
    std::u16string body;
    uint32_t rc = ovreg::exportKey(o.root, o.subKey, o.keyText, body);
    if (rc != 0) return failure(rc);
    if (!o.overwriteFile && std::ifstream(file).good() &&
        !confirm("File " + file + " already exists. Overwrite (Yes/No)?")) {
        std::cout << "The operation was cancelled by the user.\n";
        return 1;
    }
    std::string bytes = ovreg::regFileBytes(body);
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), std::streamsize(bytes.size()));
    out.close();
    if (!out) {
        std::cerr << "ERROR: Unable to write to the file " << file << ".\n";
        return 1;
    }
    std::cout << kDone << "\n";
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return syntaxError("");
    std::string operation = argv[1];
    for (auto& c : operation)
        if (c >= 'a' && c <= 'z') c = char(c - 32);
    for (int i = 1; i < argc; ++i) {
        if (isSwitch(argv[i], "?") || isSwitch(argv[i], "h") || std::string(argv[i]) == "--help") {
            std::cout << kUsage;
            return 0;
        }
    }
    Options options;
    if (operation != "QUERY" && operation != "ADD" && operation != "DELETE" &&
        operation != "EXPORT") {
        std::cerr << "ERROR: Invalid argument/option - '" << argv[1] << "'.\n";
        return syntaxError("");
    }
    if (!parseOptions(operation, argc, argv, options)) return syntaxError(operation);
    if (operation == "QUERY") return doQuery(options);
    if (operation == "ADD") return doAdd(options);
    if (operation == "DELETE") return doDelete(options);
    return doExport(options);
}
