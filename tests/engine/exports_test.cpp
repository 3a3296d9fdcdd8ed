#include <gtest/gtest.h>

#include "engine/scan_request.h"
#include "platform/library.h"

TEST(Exports, OnlyTheFourEntryPointsAreVisible) {
    platform::Library engine;
    std::string error;
    ASSERT_EQ(platform::Library::load(std::string(OV_BIN_DIR) + "/libov_core.so", engine, &error),
              0u)
        << error;
    for (const char* name : {"fnStartOVScan", "fnStopOV", "fnPauseOV", "fnResumeOV"})
        EXPECT_NE(engine.symbol(name), nullptr) << name;
    for (const char* name : {"SendOVMsg", "_Z9SendOVMsgiPKDsz", "_Z10__ScanFilePDsPKDs",
                             "_Z11RunFlagv", "_Z7RunFlagv"})
        EXPECT_EQ(engine.symbol(name), nullptr) << name;
    // While no scan runs, stop, pause and resume find no thread.
    auto stop = reinterpret_cast<FnStopOV>(engine.symbol("fnStopOV"));
    ASSERT_NE(stop, nullptr);
    EXPECT_EQ(stop(), 0);
}

TEST(Exports, ALibraryThatIsNotThereIsReported) {
    platform::Library missing;
    std::string error;
    EXPECT_EQ(platform::Library::load("/nonexistent/libnothing.so", missing, &error),
              platform::kErrorModNotFound);
    EXPECT_FALSE(missing.isLoaded());
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(missing.symbol("fnStartOVScan"), nullptr);
}
