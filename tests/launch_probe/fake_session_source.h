// A session source of the test's own making, in place of logind and /proc:
// the active session, the process list and each process's environment are
// what the test says. Installs itself for its lifetime.
#pragma once
#include <map>
#include <string>
#include <vector>

#include "platform/session.h"

namespace ovtest {

class FakeSessionSource : public platform::SessionSource {
public:
    FakeSessionSource() { platform::setSessionSource(this); }
    ~FakeSessionSource() override { platform::setSessionSource(nullptr); }
    FakeSessionSource(const FakeSessionSource&) = delete;
    FakeSessionSource& operator=(const FakeSessionSource&) = delete;

    uint32_t sessionResult = platform::kErrorNoLogind;
    platform::UserSession session;
    uint32_t processListResult = 0;
    std::vector<platform::SessionProcess> processList;
    std::map<uint32_t, std::vector<std::string>> environments;  // absent: 2 (gone)
    std::vector<std::string> caller;
    std::vector<uint32_t> asked;  // the processes whose environment was read

    uint32_t activeSession(platform::UserSession& out) override {
        out = sessionResult == 0 ? session : platform::UserSession{};
        return sessionResult;
    }
    uint32_t processes(std::vector<platform::SessionProcess>& out) override {
        out = processListResult == 0 ? processList : std::vector<platform::SessionProcess>{};
        return processListResult;
    }
    uint32_t processEnvironment(uint32_t pid, std::vector<std::string>& out) override {
        asked.push_back(pid);
        const auto found = environments.find(pid);
        if (found == environments.end()) {
            out.clear();
            return 2;
        }
        out = found->second;
        return 0;
    }
    std::vector<std::string> callerEnvironment() override { return caller; }
};

}  // namespace ovtest
