// A sandbox installation for the scheduling tests: a program folder named
// by "Path", the jobs folder beside it, a registry and an application log of
// the test's own, and answers for the message boxes.
#pragma once
#include <gtest/gtest.h>

#include <string>

#include "app/shell/scripted_prompts.h"
#include "app/shell/shell_test_support.h"
#include "common/job_file.h"

class ScheduleSandbox : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    std::u16string jobsFolder() const { return folder.windows("jobs"); }
    std::filesystem::path jobPath(const std::string& name) const {
        return folder.path() / "jobs" / name;
    }
    void writeJob(const std::string& name, const jobfile::JobFields& job) const;
    void writeJobText(const std::string& name, const std::u16string& text) const;
    std::string log() const;
    bool logHas(const std::u16string& text) const;
    // "sched" as raw bytes and its type; empty when missing.
    static std::string schedBytes(uint32_t* type = nullptr);
    static void setSched(const std::u16string& name);
    static void setDebug(uint32_t value);

    TempFolder folder;
    ScriptedPrompts prompts;
};
