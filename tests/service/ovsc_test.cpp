// ovsc's commands and exit codes on the built-in service manager.
#include <gtest/gtest.h>

#include "platform/path.h"
#include "platform/scm.h"
#include "service/service_sandbox_support.h"

namespace svctest {
namespace {

TEST(Ovsc, CreateQueryDeleteAndTheirExitCodes) {
    ServiceSandbox sandbox;
    const std::string program = std::string(OV_BIN_DIR) + "/ovrtsrv";
    struct Step {
        std::vector<std::string> arguments;
        int status;
        const char* output;
    } const steps[] = {
        {{"query", "Probe Service"}, 1, "[SC] OpenService FAILED 1060:"},
        {{"create", "Probe Service", "binPath=", program, "start=", "auto"},
         0,
         "[SC] CreateService SUCCESS"},
        {{"create", "Probe Service", "binPath=", program}, 1, "[SC] CreateService FAILED 1073:"},
        {{"query", "probe service"}, 0, "STATE              : 1  STOPPED"},
        {{"stop", "Probe Service"}, 1, "[SC] ControlService FAILED 1062:"},
        {{"delete", "Probe Service"}, 0, "[SC] DeleteService SUCCESS"},
        {{"delete", "Probe Service"}, 1, "[SC] OpenService FAILED 1060:"},
        {{"create", "Probe Service", "start=", "auto"}, 2, "USAGE:"},
        {{"create", "Probe Service", "binPath=", program, "start=", "sometimes"}, 2, "USAGE:"},
        {{"frobnicate", "Probe Service"}, 2, "USAGE:"},
        {{"query"}, 2, "USAGE:"},
    };
    for (const Step& step : steps) {
        CommandResult run = sandbox.ovsc(step.arguments);
        EXPECT_EQ(run.status, step.status) << step.arguments[0] << "\n" << run.out;
        EXPECT_NE(run.out.find(step.output), std::string::npos) << step.arguments[0] << "\n"
                                                                << run.out;
    }
}

TEST(Ovsc, CreateRecordsTheStartTypeAndAWindowsFormPath) {
    ServiceSandbox sandbox;
    const std::string program = std::string(OV_BIN_DIR) + "/ovrtsrv";
    ASSERT_EQ(sandbox.ovsc({"create", "Probe", "binPath=", program, "start=", "auto"}).status, 0);
    platform::ServiceManager manager;
    ASSERT_EQ(platform::ServiceManager::open(platform::kScManagerConnect, manager), 0u);
    platform::Service service;
    ASSERT_EQ(platform::Service::open(manager, u"Probe", platform::kServiceQueryConfig, service),
              0u);
    platform::ServiceDescription description;
    ASSERT_EQ(service.queryDescription(description), 0u);
    EXPECT_EQ(description.startType, platform::kServiceAutoStart);
    EXPECT_EQ(description.binaryPath, platform::toWindowsPath(program));
}

}  // namespace
}  // namespace svctest
