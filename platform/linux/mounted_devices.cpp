// Drive letters the registry adds or overrides: REG_SZ values named
// "\DosDevices\X:" under HKLM\SYSTEM\MountedDevices, each a host folder.
#include <sys/stat.h>

#include <cstring>
#include <mutex>
#include <vector>

#include "platform/error.h"
#include "platform/linux/drive_map_internal.h"
#include "platform/linux/path_internal.h"
#include "platform/registry.h"
#include "platform/text.h"

namespace platform::detail {

namespace {

constexpr char16_t kMountedDevicesKey[] = u"SYSTEM\\MountedDevices";
constexpr std::u16string_view kDosDevicesPrefix = u"\\DosDevices\\";

// The letter of a "\DosDevices\X:" value name; 0 for any other name.
char16_t letterOfValueName(std::u16string_view name) {
    if (name.size() != kDosDevicesPrefix.size() + 2 ||
        !equalsIgnoreCase(name.substr(0, kDosDevicesPrefix.size()), kDosDevicesPrefix) ||
        name.back() != u':') {
        return 0;
    }
    char16_t letter = toUpper16(name[kDosDevicesPrefix.size()]);
    return letter >= u'A' && letter <= u'Z' ? letter : 0;
}

std::vector<std::pair<char16_t, std::string>> readOverrides() {
    std::vector<std::pair<char16_t, std::string>> out;
    RegKey key;
    if (RegKey::open(RegRoot::LocalMachine, kMountedDevicesKey, key) != 0) return out;
    std::vector<char> data(1024);
    for (uint32_t index = 0;;) {
        char16_t name[256];
        uint32_t nameLength = 256, type = 0, size = static_cast<uint32_t>(data.size());
        uint32_t rc = key.enumValue(index, name, &nameLength, &type, data.data(), &size);
        if (rc == kErrorMoreData && size > data.size() && size <= (1u << 20)) {
            data.resize(size);  // the same value again with room for its data
            continue;
        }
        ++index;
        if (rc == kErrorMoreData) continue;  // a name too long for a drive value
        if (rc != 0) break;
        char16_t letter = letterOfValueName(std::u16string_view(name, nameLength));
        if (!letter || type != kRegSz) continue;
        std::u16string text(size / 2, 0);
        std::memcpy(text.data(), data.data(), text.size() * 2);
        while (!text.empty() && text.back() == 0) text.pop_back();
        out.emplace_back(letter, windowsNameToHost(text));
    }
    return out;
}

// What the registry file and its write-ahead log look like on disk. Every
// commit of any process changes one of them, so an unchanged stamp means the
// values read last time still stand, and a path conversion costs two stat
// calls instead of registry queries.
struct FileStamp {
    bool exists = false;
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    timespec modified{};
    timespec changed{};

    static FileStamp of(const std::string& path) {
        FileStamp stamp;
        struct stat st {};
        if (::stat(path.c_str(), &st) != 0) return stamp;
        stamp.exists = true;
        stamp.device = st.st_dev;
        stamp.inode = st.st_ino;
        stamp.size = st.st_size;
        stamp.modified = st.st_mtim;
        stamp.changed = st.st_ctim;
        return stamp;
    }
    bool operator==(const FileStamp& o) const {
        return exists == o.exists && device == o.device && inode == o.inode && size == o.size &&
               modified.tv_sec == o.modified.tv_sec && modified.tv_nsec == o.modified.tv_nsec &&
               changed.tv_sec == o.changed.tv_sec && changed.tv_nsec == o.changed.tv_nsec;
    }
};

struct RegistryStamp {
    std::string path;
    FileStamp file, log;
    bool operator==(const RegistryStamp& o) const {
        return path == o.path && file == o.file && log == o.log;
    }
};

class OverrideCache {
  public:
    std::vector<std::pair<char16_t, std::string>> get() {
        RegistryStamp now;
        now.path = registryFilePath();
        now.file = FileStamp::of(now.path);
        now.log = FileStamp::of(now.path + "-wal");
        std::lock_guard<std::mutex> guard(m_lock);
        if (m_valid && now == m_stamp) return m_overrides;
        // Without a registry file there is nothing to read, and no file is
        // made just to learn that.
        m_overrides = now.file.exists ? readOverrides() : decltype(m_overrides){};
        m_stamp = std::move(now);
        m_valid = true;
        return m_overrides;
    }

  private:
    std::mutex m_lock;
    bool m_valid = false;
    RegistryStamp m_stamp;
    std::vector<std::pair<char16_t, std::string>> m_overrides;
};

}  // namespace

std::vector<std::pair<char16_t, std::string>> registryDriveOverrides() {
    static OverrideCache cache;
    return cache.get();
}

}  // namespace platform::detail
