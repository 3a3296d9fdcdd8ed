// The service's state in this test process over a sandbox: the current
// directory is the program folder, the service log is open, the shared
// memory exists, and the state starts fresh.
#pragma once
#include "service/service_sandbox_support.h"

namespace svctest {

class InProcessService {
public:
    InProcessService();
    ~InProcessService();
    ServiceSandbox& sandbox() { return m_sandbox; }
    std::string log();  // flushed first

private:
    ServiceSandbox m_sandbox;
    std::filesystem::path m_oldDirectory;
};

}  // namespace svctest
