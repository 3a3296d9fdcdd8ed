#include "service/schedule_watcher.h"

#include <condition_variable>
#include <cstdarg>
#include <cstdio>
#include <mutex>

#include "common/job_file.h"
#include "common/registry_names.h"
#include "common/scan_codes.h"
#include "platform/error.h"
#include "platform/fs.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "platform/thread_id.h"

namespace ovsvc {

namespace {

using std::chrono::minutes;
using std::chrono::system_clock;

class SystemScheduleClock : public ScheduleClock {
public:
    system_clock::time_point now() override { return system_clock::now(); }
    platform::LocalTime local(system_clock::time_point when) override {
        return platform::toLocalTime(when);
    }
    bool waitUntil(system_clock::time_point deadline, const std::stop_token& stop) override {
        std::mutex lock;
        std::condition_variable_any wake;
        std::unique_lock<std::mutex> guard(lock);
        // Short waits, so a clock set forward or back, or a resume from
        // suspend, is noticed within seconds.
        while (!stop.stop_requested()) {
            const auto now = system_clock::now();
            if (now >= deadline) return true;
            if (deadline - now > std::chrono::minutes(2)) return true;  // the clock went back
            const auto until = std::min(deadline, now + std::chrono::seconds(10));
            wake.wait_until(guard, stop, until, [] { return false; });
        }
        return false;
    }
};

// The file-time form (100 ns since 1601) of a local date and time, as the
// trace shows it; only compared with another value made the same way.
int64_t fileTimeOf(int year, int month, int day, int hour, int minute) {
    using namespace std::chrono;
    const sys_days date{std::chrono::year(year) / std::chrono::month(static_cast<unsigned>(month)) /
                        std::chrono::day(static_cast<unsigned>(day))};
    const sys_days epoch{std::chrono::year(1601) / January / 1};
    const int64_t seconds = (date - epoch).count() * 86400LL + hour * 3600LL + minute * 60LL;
    return seconds * 10'000'000LL;
}

int compareFileTimes(int64_t a, int64_t b) { return a < b ? -1 : (a > b ? 1 : 0); }

int32_t high(int64_t fileTime) {
    return static_cast<int32_t>(static_cast<uint64_t>(fileTime) >> 32);
}
int32_t low(int64_t fileTime) { return static_cast<int32_t>(static_cast<uint32_t>(fileTime)); }

int64_t minuteKey(const platform::LocalTime& t) {
    return ((((t.year * 100LL + t.month) * 100 + t.day) * 100 + t.hour) * 100) + t.minute;
}

std::string ansi(std::u16string_view text) { return platform::toAnsi(text); }

// The three parts of a time text the trace shows: before the first ":",
// between the first and the second, and the rest.
struct TimeParts {
    std::string hour, minute, rest;
};
TimeParts splitTime(std::u16string_view text) {
    TimeParts parts;
    const size_t first = text.find(u':');
    if (first == std::u16string_view::npos) {
        parts.hour = ansi(text);
        return parts;
    }
    parts.hour = ansi(text.substr(0, first));
    const size_t second = text.find(u':', first + 1);
    if (second == std::u16string_view::npos) {
        parts.minute = ansi(text.substr(first + 1));
        return parts;
    }
    parts.minute = ansi(text.substr(first + 1, second - first - 1));
    parts.rest = ansi(text.substr(second + 1));
    return parts;
}

// "Path" of the product key (at most `bytes` bytes); the query's result.
uint32_t readInstallPath(const platform::RegKey& key, uint32_t bytes, std::u16string& path) {
    std::u16string buffer(bytes / 2, u'\0');
    uint32_t size = bytes - 2;  // room for the terminator a value may lack
    const uint32_t status = key.queryValue(names::kValuePath, nullptr, buffer.data(), &size);
    if (status == platform::kErrorSuccess)
        buffer.resize(platform::length16(buffer.c_str()));
    else
        buffer.clear();
    path = buffer;
    return status;
}

}  // namespace

ScheduleClock& systemScheduleClock() {
    static SystemScheduleClock clock;
    return clock;
}

ScheduleWatcher::ScheduleWatcher(ScheduleWatcherHooks hooks)
    : m_hooks(std::move(hooks)),
      m_clock(m_hooks.clock != nullptr ? *m_hooks.clock : systemScheduleClock()) {}

void ScheduleWatcher::write(const char* format, ...) {
    if (!m_hooks.log) return;
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    const int length = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    std::string line(length > 0 ? static_cast<size_t>(length) : 0, '\0');
    if (length > 0) std::vsnprintf(line.data(), line.size() + 1, format, again);
    va_end(again);
    m_hooks.log(line);
}

bool ScheduleWatcher::debug() const {
    if (m_hooks.debug) return m_hooks.debug();
    uint32_t value = 0;
    return platform::readDword(platform::RegRoot::LocalMachine, names::kSettingsKey, names::kDebug,
                               value) == platform::kErrorSuccess &&
           value == 1;
}

std::vector<ScheduleMinute> ScheduleWatcher::minutesToCheck(const ScheduleMinute* last,
                                                            ScheduleMinute current) {
    if (last == nullptr || current <= *last) return {current};
    ScheduleMinute from = *last + minutes(1);
    if (current - from >= minutes(kCatchUpMinutes)) from = current - minutes(kCatchUpMinutes - 1);
    std::vector<ScheduleMinute> out;
    for (ScheduleMinute m = from; m <= current; m += minutes(1)) out.push_back(m);
    return out;
}

void ScheduleWatcher::SchedProc(const std::stop_token& stop) {
    const uint32_t thread = platform::currentThreadId();
    write("[INFO] SchedProc=> Started - Thread: %08x\n", thread);
    bool havePass = false;
    ScheduleMinute last{};
    while (!stop.stop_requested()) {
        const ScheduleMinute current = std::chrono::floor<minutes>(m_clock.now());
        if (!havePass || current != last) {
            if (havePass && current - last > minutes(kCatchUpMinutes)) {
                write("[INFO] SchedProc=> late by %lld minutes, the last %d are checked\n",
                      static_cast<long long>((current - last).count()), kCatchUpMinutes);
            }
            (void)DoSchedualWatcherThread(minutesToCheck(havePass ? &last : nullptr, current));
            last = current;
            havePass = true;
        }
        if (!m_clock.waitUntil(current + minutes(1), stop)) break;
        if (debug()) write("[DEBUG] SchedProc=> still running - Thred: %08x\n", thread);
    }
}

uint32_t ScheduleWatcher::DoSchedualWatcherThread() {
    return DoSchedualWatcherThread({std::chrono::floor<minutes>(m_clock.now())});
}

uint32_t ScheduleWatcher::DoSchedualWatcherThread(const std::vector<ScheduleMinute>& minutesList) {
    const uint32_t thread = platform::currentThreadId();
    write("[INFO] DoSchedualWatcherThread=> Start - Thread: %08x\n", thread);

    platform::RegKey key;
    uint32_t status =
        platform::RegKey::open(platform::RegRoot::LocalMachine, names::kProductKey, key);
    if (status != platform::kErrorSuccess) {
        write("[ERROR] DoSchedualWatcherThread=> Open Registry Failed, code: %d\n", int(status));
        return status;
    }
    std::u16string path;
    const uint32_t query = readInstallPath(key, 512, path);
    if (debug()) {
        write("[DEBUG] DoSchedualWatcherThread=> Current Dir: %s [%d, err: %d]\n",
              ansi(path).c_str(), int(query), int(platform::lastError()));
    }
    key.close();
    if (!path.empty()) (void)platform::setCurrentDirectory(path);
    // The job folder is found from "Path" itself, not from the current
    // directory, which the service thread sets too.
    const std::u16string jobs =
        (path.empty() ? std::u16string(u"..") : path + u"\\..") + u"\\jobs\\";

    platform::FindFile search;
    platform::FindData entry;
    status = platform::FindFile::first(jobs + u"*.ovj", search, entry,
                                       platform::FindFile::Detail::NoHiddenOrSystem);
    if (status != platform::kErrorSuccess) {
        write("[ERROR] DoSchedualWatcherThread=> Find File, code: %d\n", int(status));
        return status;
    }
    uint32_t count = 0;
    do {
        if (entry.attributes & platform::kAttrDirectory) continue;
        std::u16string text;
        const uint32_t read = jobfile::readJobFile(jobs + entry.name, text);
        if (read != platform::kErrorSuccess) {
            write("[ERROR] DoSchedualWatcherThread=> Open file [%s] return error %d\n",
                  ansi(entry.name).c_str(), int(read));
            continue;
        }
        write("[DEBUG] DoSchedualWatcherThread=> Open Job: %s\n", ansi(entry.name).c_str());
        checkJob(entry.name, text, minutesList);
        ++count;
    } while (search.next(entry) == platform::kErrorSuccess);
    search.close();
    if (!minutesList.empty()) forgetOldFirings(minutesList.back());
    write("[INFO] DoSchedualWatcherThread=> Ended - Thread: %08x\n", thread);
    return count;
}

void ScheduleWatcher::checkJob(const std::u16string& fileName, const std::u16string& text,
                               const std::vector<ScheduleMinute>& minutesList) {
    const auto status = jobfile::jobValue(text, u"Status");
    if (!status || jobfile::leadingNumber(*status) != names::kJobActive) return;
    const bool weekly = jobfile::isWeeklyJob(text);
    const auto timeText = jobfile::jobValue(text, weekly ? u"Weekly" : u"Daily");
    if (!timeText) return;
    const std::u16string type(jobfile::jobValue(text, u"Type").value_or(u""));
    const bool debugOn = debug();

    for (const ScheduleMinute& minute : minutesList) {
        const platform::LocalTime now = m_clock.local(minute);
        const int64_t sysTime = fileTimeOf(now.year, now.month, now.day, now.hour, now.minute);
        if (debugOn) {
            write("[DEBUG] DoSchedualWatcherThread=> System time: %02d:%02d:00 - ", now.hour,
                  now.minute);
            write("[DEBUG] JOB Type:%s\n", ansi(type).c_str());
            const jobfile::WeeklyMark mark = jobfile::weeklyMark(text);
            write("[DEBUG] ############################## JOB Char: %c, %d\n",
                  mark.character > 0 && mark.character < 0x80 ? char(mark.character) : '?',
                  int(mark.position));
        }
        const jobfile::JobClock clock = jobfile::parseJobTime(*timeText);
        const int64_t jobTime =
            clock.valid ? fileTimeOf(now.year, now.month, now.day, clock.hour, clock.minute) : 0;
        const TimeParts parts = splitTime(*timeText);
        const int shownHour = clock.valid ? clock.hour : clock.rawHour;
        const int shownMinute = clock.valid ? clock.minute : clock.rawMinute;
        int compared = 0;
        if (weekly) {
            if (debugOn) {
                write("[DEBUG] DoSchedualWatcherThread=> JOB D/W: Weekly\n");
                write("[DEBUG] DoSchedualWatcherThread=> Current Time: %d\n", now.dayOfWeek);
            }
            if (!jobfile::runsOnWeekday(text, now.dayOfWeek)) continue;
            compared = clock.valid ? compareFileTimes(sysTime, jobTime) : 1;
            if (debugOn) {
                write("[DEBUG] DoSchedualWatcherThread=> After Current Time: %d\n", now.dayOfWeek);
                write("[DEBUG] DoSchedualWatcherThread=> JOB: %2d:%2d:%2d ==>> %s %s %s\n",
                      shownHour, shownMinute, 0, parts.hour.c_str(), parts.minute.c_str(),
                      parts.rest.c_str());
                write("[DEBUG] DoSchedualWatcherThread=> SYS: %d,%d | JOB: %d,%d |CMP: %d\n",
                      high(sysTime), low(sysTime), high(jobTime), low(jobTime), compared);
            }
        } else {
            if (debugOn) {
                write("[DEBUG] JOB D/W: Daily\n");
                write("[DEBUG] Job time: %s\n", ansi(*timeText).c_str());
            }
            write("[INFO] DoSchedualWatcherThread=> JOB: %02d:%02d:%02d ==>> %s %s %s\n", shownHour,
                  shownMinute, 0, parts.hour.c_str(), parts.minute.c_str(), parts.rest.c_str());
            write(
                "[INFO] DoSchedualWatcherThread=> st2.wDay=%d,st2.wDayOfWeek=%d,st2.wHour=%d,"
                "st2.wMilliseconds=%d,st2.wMinute=%d,st2.wMonth=%d,st2.wSecond=%d,st2.wYear=%d\n",
                now.day, now.dayOfWeek, shownHour, 0, shownMinute, now.month, 0, now.year);
            if (!clock.valid) {
                write("[ERROR] DoSchedualWatcherThread=> Convert SysToFile %d\n",
                      int(platform::kErrorInvalidParameter));
            }
            compared = clock.valid ? compareFileTimes(sysTime, jobTime) : 1;
            write("[INFO] DoSchedualWatcherThread=> SYS: %d,%d | JOB: %d,%d |CMP: %d\n",
                  high(sysTime), low(sysTime), high(jobTime), low(jobTime), compared);
        }
        if (compared != 0) continue;
        const auto firing = std::make_pair(fileName, minuteKey(now));
        if (m_fired.count(firing) != 0) continue;  // this job was started for this minute
        m_fired.emplace(firing, minute);
        (void)StartOVScanner(fileName);
    }
}

void ScheduleWatcher::forgetOldFirings(ScheduleMinute now) {
    const auto keep = std::chrono::hours(48);
    for (auto it = m_fired.begin(); it != m_fired.end();) {
        const auto age = now > it->second ? now - it->second : it->second - now;
        it = age > keep ? m_fired.erase(it) : std::next(it);
    }
}

uint32_t ScheduleWatcher::StartOVScanner(std::u16string_view jobFileName) {
    write("[INFO] StartOVScanner=> Enter... \n");
    platform::RegKey data;
    uint32_t status =
        platform::RegKey::open(platform::RegRoot::LocalMachine, names::kDataKey, data);
    if (status == platform::kErrorSuccess) {
        // The name without a terminating zero: twice its length in bytes.
        status = data.setValue(names::kValueSched, platform::kRegExpandSz, jobFileName.data(),
                               static_cast<uint32_t>(jobFileName.size() * sizeof(char16_t)));
    }
    if (status == platform::kErrorSuccess)
        write("[INFO] StartOVScanner=> Add job to registry\n");
    else
        write("[ERROR] StartOVScanner=> Failed add job to registry, code: %d\n", int(status));
    data.close();

    std::u16string path;
    platform::RegKey product;
    if (platform::RegKey::open(platform::RegRoot::LocalMachine, names::kProductKey, product) ==
        platform::kErrorSuccess) {
        (void)readInstallPath(product, 1024, path);
    }
    if (!path.empty()) (void)platform::setCurrentDirectory(path);
    const std::u16string program = path + u"\\" + kApplicationProgram;
    const std::vector<std::u16string> commandLine = {program, std::u16string(jobFileName)};
    write("[INFO] StartOVScanner=> Start OV: %s\n",
          ("\"" + ansi(program) + "\" " + ansi(jobFileName)).c_str());
    if (m_hooks.launch)
        (void)m_hooks.launch(commandLine, m_hooks.launchLog);
    else
        (void)LaunchAppIntoDifferentSession(commandLine, m_hooks.launchLog);
    return 1;
}

void ScheduleThread::start(ScheduleWatcherHooks hooks) {
    stop();
    m_thread = std::jthread([hooks = std::move(hooks)](std::stop_token stop) mutable {
        ScheduleWatcher watcher(std::move(hooks));
        watcher.SchedProc(stop);
    });
}

void ScheduleThread::stop() {
    if (!m_thread.joinable()) return;
    m_thread.request_stop();
    m_thread.join();
}

}  // namespace ovsvc
