#include "service/service_in_process_support.h"

#include <gtest/gtest.h>

#include "platform/fs.h"
#include "platform/path.h"
#include "service/service_log.h"
#include "service/service_state.h"

namespace svctest {

InProcessService::InProcessService() {
    m_oldDirectory = std::filesystem::current_path();
    EXPECT_EQ(
        platform::setCurrentDirectory(platform::toWindowsPath((m_sandbox.root() / "bin").string())),
        0u);
    ovsvc::resetServiceState();
    EXPECT_TRUE(ovsvc::openServiceLog());
    EXPECT_EQ(platform::SharedMemory::create(ovsvc::kMappingName, ovsvc::kMappingSize,
                                             ovsvc::serviceState().mapping),
              0u);
}

InProcessService::~InProcessService() {
    ovsvc::closeServiceLog();
    ovsvc::resetServiceState();
    std::error_code ec;
    std::filesystem::current_path(m_oldDirectory, ec);
}

std::string InProcessService::log() {
    ovsvc::logFlush();
    return ReadText(m_sandbox.logPath());
}

}  // namespace svctest
