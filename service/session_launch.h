// The start of a program in the interactive user's session, for the
// real-time check (the alert program) and the schedule watcher (the
// application). The program runs as root, as the service does, with the
// session's display environment (platform/session.h), its working folder
// the program's own folder, not waited for.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

// Takes each line of the procedure, whole, with its level tag, function name
// and line end ("[INFO] LaunchAppIntoDifferentSession=> Start \n"). Called on
// the caller's thread.
using SessionLaunchLog = std::function<void(std::u16string_view line)>;

// commandLine: the program (Windows form, e.g. "C:\opt\orvane\bin\ovfilemsg")
// and its arguments, each handed to the program as one argument as it
// stands; the log shows them joined with one blank. Returns 0 after trying
// to start the program (its outcome is only logged), 1 when the process list
// could not be read. Keeps all its state in locals; safe from any thread.
uint32_t LaunchAppIntoDifferentSession(const std::vector<std::u16string>& commandLine,
                                       const SessionLaunchLog& log);
