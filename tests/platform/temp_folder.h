// A private temporary folder for one test, removed with everything in it.
#pragma once
#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "platform/path.h"

namespace ovtest {

class TempFolder {
  public:
    TempFolder() {
        char name[] = "/tmp/ovtest-XXXXXX";
        m_host = ::mkdtemp(name) ? name : "";
    }
    ~TempFolder() {
        std::error_code ec;
        // Give back write bits so that read-only fixtures go too.
        std::filesystem::permissions(m_host, std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ec);
        std::filesystem::remove_all(m_host, ec);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::string& host() const { return m_host; }
    std::string host(const std::string& name) const { return m_host + "/" + name; }
    std::u16string windows() const { return platform::toWindowsPath(m_host); }
    std::u16string windows(const std::u16string& name) const { return windows() + u"\\" + name; }

    void writeFile(const std::string& name, const std::string& content) const {
        std::ofstream(host(name), std::ios::binary) << content;
    }
    void makeFolder(const std::string& name) const { ::mkdir(host(name).c_str(), 0755); }

  private:
    std::string m_host;
};

// Sets an environment variable for the life of the object.
class ScopedEnv {
  public:
    ScopedEnv(const char* name, const std::string& value) : m_name(name) {
        if (const char* old = ::getenv(name)) m_old = old, m_had = true;
        ::setenv(name, value.c_str(), 1);
    }
    ~ScopedEnv() {
        if (m_had)
            ::setenv(m_name, m_old.c_str(), 1);
        else
            ::unsetenv(m_name);
    }

  private:
    const char* m_name;
    std::string m_old;
    bool m_had = false;
};

}  // namespace ovtest
