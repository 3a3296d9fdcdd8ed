// Where the application finds the job files: "jobs" beside the program
// folder named by "Path" (the application's "../jobs"), so the current
// directory does not matter.
#pragma once
#include <string>

// "<Path>\..\jobs", or "..\jobs" when "Path" cannot be read.
std::u16string ApplicationJobsFolder();

// True when the "Debug" setting is 1 (read at each call).
bool ScheduleDebugEnabled();

// Writes one line to the application log at debug level.
void LogScheduleDebug(const char16_t* format, ...);
