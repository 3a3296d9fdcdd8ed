// ovUpdate: updates the hash database from the configured server.
//
//   ovUpdate            fetch, check and install the database (the program
//                       folder is the Path value, else this program's folder);
//                       started by the application (its caller entry in the
//                       environment), wait for it to end first and start it
//                       again at the end
//   ovUpdate --help
//
// Exit status: 0 updated, 1 nothing changed (the reason is logged in
// ..\logs\ovUpdate.log and shown), 2 usage.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "common/update_caller.h"
#include "platform/console.h"
#include "tools/ovUpdate/update_run.h"

int main(int argc, char** argv) {
    if (argc > 1) {
        const std::string arg = argv[1];
        const bool help = arg == "--help" || arg == "-h";
        std::fprintf(help ? stdout : stderr,
                     "usage: ovUpdate\n"
                     "Fetches /def/hashdb.dbf and /def/hashdb.sha256 from the Host under\n"
                     "HKLM\\SOFTWARE\\Orvane\\Wardline\\Online over HTTPS, checks them and\n"
                     "replaces ..\\data\\hashdb.dbf (the old one stays as hashdb.dbf.bak).\n"
                     "Logs to ..\\logs\\ovUpdate.log.\n");
        return help ? 0 : 2;
    }
    const bool terminal = platform::isTerminal(platform::StandardStream::Output);
    UpdateRun run;
    run.show = [terminal](std::string text) {
        // Progress lines overwrite each other on a terminal only.
        if (!terminal && !text.empty()) {
            if (text.back() == '\r') return;
            if (text.front() == '\n') text.erase(0, 1);
        }
        std::fputs(text.c_str(), stdout);
        std::fflush(stdout);
    };
    // The application's start of this program leaves the command line empty
    // and names itself in the environment; the logon entry does not.
    if (const char* caller = std::getenv(names::kUpdateCallerVariable)) run.caller = caller;
    return static_cast<int>(RunUpdate(run));
}
