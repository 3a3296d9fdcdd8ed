// --quarantine: after a scan, every finding of its report goes into
// quarantine as the results list's "quarantine all" does (registry values
// that ran a finding are removed too), through orvane-quarantine beside this
// program.
#pragma once
#include <string>

// 0 when every finding was quarantined, else the tool's exit status (or 2
// when it cannot be run). showOutput lets its lines through to standard output.
int QuarantineReportFindings(const std::u16string& reportPath, bool showOutput);
