// ovUpdate: updates the hash database from the configured server.
//
//   ovUpdate            fetch, check and install the database (the program
//                       folder is the Path value, else this program's folder)
//   ovUpdate --help
//
// Exit status: 0 updated, 1 nothing changed (the reason is logged in
// ..\logs\ovUpdate.log and shown), 2 usage.
#include <cstdio>
#include <string>

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
    const UpdateResult result = RunUpdate(run);
    // Starting the application again belongs here once the application says
    // that it started this run: today it starts the updater with no
    // arguments and nothing else, exactly as the logon entry does, so the two
    // cannot be told apart and the application is not started.
    return static_cast<int>(result);
}
