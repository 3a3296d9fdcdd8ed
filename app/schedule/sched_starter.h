// The scheduled start in the application: a thread of every running
// instance polls "sched" (under the data key) every five seconds while
// neither a scheduled start nor a scan is under way. When it finds a job
// file name there it clears the value, keeps the name, sets the
// scheduled-start flag and arms the main dialog's timer 31026; the timer's
// handler (on the user-interface thread) calls PrepareScheduledJob, which
// reads the kept job's type and sets the scan type code, and then presses
// the scan button.
//
// What the scheduled start needs of the main dialog comes through
// ScheduledStartHost, so the logic runs without widgets in the tests.
#pragma once
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <stop_token>
#include <string>
#include <thread>

// The main dialog's side of the scheduled start.
class ScheduledStartHost {
public:
    virtual ~ScheduledStartHost() = default;
    // The scanning flag: 1 while a scan runs.
    virtual int32_t scanningFlag() = 0;
    // The scheduled-start flag: 1 from the moment a due job was taken until
    // the main dialog has handled the end of the scan it started.
    virtual int32_t scheduledStartFlag() = 0;
    virtual void setScheduledStartFlag(int32_t value) = 0;
    // The scan type code of the scheduled scan (1034 or 1035), which the
    // timer handler reads.
    virtual int32_t scheduledScanType() = 0;
    virtual void setScheduledScanType(int32_t type) = 0;
    // Arms timer 31026 on the main dialog with this period. Called on the
    // poll thread: the host hands it to the user-interface thread.
    virtual void armScheduledStartTimer(int32_t milliseconds) = 0;
    // The main dialog's handle as the trace shows it.
    virtual uint32_t mainWindowHandle() = 0;
};

class SchedStarter {
public:
    // Job files are read from jobsFolder (Windows form, no trailing "\").
    SchedStarter(ScheduledStartHost& host, std::u16string jobsFolder);
    ~SchedStarter() { Stop(); }
    SchedStarter(const SchedStarter&) = delete;
    SchedStarter& operator=(const SchedStarter&) = delete;

    // Takes a due job from "sched": 1 when one was taken (the value is
    // cleared, the name kept, the flag set), else 0 (the flag is cleared).
    int32_t CheckIfSchedTime();

    // Reads the kept job's file and sets the scan type code: 1035 for a
    // Full System Scout job, 1034 for any other (a Custom Scout job carries
    // no targets and runs as a Threat Scout scan). A file that cannot be
    // read leaves the code as it was. 1 when the file was read.
    int32_t PrepareScheduledJob();

    // One round of the poll: when neither flag is set, CheckIfSchedTime and,
    // for a taken job, the timer (2000 ms).
    void PollOnce();

    // The poll loop (SchedStarterThread): PollOnce every 5000 ms until a
    // stop is requested.
    void SchedStarterThread(const std::stop_token& stop);

    // Runs SchedStarterThread on a thread of its own; Stop ends its sleep
    // and joins it.
    void Start();
    void Stop();
    bool Running() const { return m_thread.joinable(); }

    std::u16string keptJobName() const;

    static constexpr int32_t kScheduledStartTimer = 31026;
    static constexpr int32_t kTimerPeriodMs = 2000;
    static constexpr int32_t kPollPeriodMs = 5000;

private:
    ScheduledStartHost& m_host;
    std::u16string m_jobsFolder;
    std::mutex m_pollLock;
    mutable std::mutex m_lock;
    std::u16string m_kept;
    // A name taken while "sched" could not be cleared; not taken again
    // until the value changes.
    std::u16string m_uncleared;
    std::condition_variable_any m_wake;
    std::jthread m_thread;
};
