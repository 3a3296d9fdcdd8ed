#include "https_server_support.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

constexpr char kServerScript[] = R"PY(
import http.server, os, ssl, sys
root, cert, key, port_file, log_file = sys.argv[1:6]

class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    def do_GET(self):
        with open(log_file, "a") as log:
            log.write("%s\t%s\t%s\n" % (self.path, self.headers.get("User-Agent", ""),
                                        self.headers.get("Cache-Control", "")))
        local = os.path.join(root, self.path.split("?", 1)[0].lstrip("/"))
        body = b""
        if os.path.isfile(local):
            with open(local, "rb") as f:
                body = f.read()
        self.send_response(200)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)
    def log_message(self, *args):
        pass

server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
context.load_cert_chain(cert, key)
server.socket = context.wrap_socket(server.socket, server_side=True)
with open(port_file + ".tmp", "w") as f:
    f.write(str(server.server_address[1]))
os.rename(port_file + ".tmp", port_file)
server.serve_forever()
)PY";

bool run(const std::vector<std::string>& argv, const fs::path& folder) {
    platform::SpawnOptions options;
    options.workingDirectory = folder.string();
    platform::ChildProcess child;
    if (platform::ChildProcess::spawn(argv, options, child) != 0) return false;
    return child.wait(60s) == 0 && child.exitCode() == 0;
}

bool makeCa(const fs::path& folder, const std::string& name, const std::string& subject) {
    return run({"openssl",
                "req",
                "-x509",
                "-newkey",
                "ec",
                "-pkeyopt",
                "ec_paramgen_curve:prime256v1",
                "-nodes",
                "-keyout",
                name + ".key",
                "-out",
                name + ".pem",
                "-days",
                "3",
                "-subj",
                subject,
                "-addext",
                "basicConstraints=critical,CA:TRUE",
                "-addext",
                "keyUsage=critical,keyCertSign,cRLSign"},
               folder);
}

}  // namespace

bool TestHttpsServer::start(const fs::path& folder) {
    m_folder = folder;
    if (platform::findProgramInPath("openssl").empty()) return m_error = "no openssl", false;
    if (platform::findProgramInPath("python3").empty()) return m_error = "no python3", false;
    fs::create_directories(docroot());
    std::ofstream(folder / "server.ext") << "basicConstraints=CA:FALSE\n"
                                            "keyUsage=critical,digitalSignature\n"
                                            "extendedKeyUsage=serverAuth\n"
                                            "subjectAltName=IP:127.0.0.1,DNS:localhost\n";
    if (!makeCa(folder, "ca", "/CN=Orvane Test CA") ||
        !makeCa(folder, "other-ca", "/CN=Somebody Else CA") ||
        !run({"openssl", "req", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
              "-nodes", "-keyout", "server.key", "-out", "server.csr", "-subj", "/CN=127.0.0.1"},
             folder) ||
        !run({"openssl", "x509", "-req", "-in", "server.csr", "-CA", "ca.pem", "-CAkey", "ca.key",
              "-CAcreateserial", "-out", "server.pem", "-days", "2", "-extfile", "server.ext"},
             folder)) {
        return m_error = "openssl could not make the certificates", false;
    }
    std::ofstream(folder / "server.py") << kServerScript;
    std::ofstream(folder / "requests.log").flush();
    platform::SpawnOptions options;
    options.workingDirectory = folder.string();
    if (platform::ChildProcess::spawn(
            {"python3", (folder / "server.py").string(), docroot().string(),
             (folder / "server.pem").string(), (folder / "server.key").string(),
             (folder / "port").string(), (folder / "requests.log").string()},
            options, m_process) != 0) {
        return m_error = "python3 did not start", false;
    }
    // Waits for the server to say where it listens.
    for (int i = 0; i < 600 && m_port == 0; ++i) {
        std::ifstream in(folder / "port");
        if (!(in >> m_port)) {
            m_port = 0;
            if (!m_process.isRunning()) break;
            std::this_thread::sleep_for(50ms);
        }
    }
    if (m_port == 0) return m_error = "the server did not come up", false;
    return true;
}

void TestHttpsServer::stopServer() { m_process.kill(); }

void TestHttpsServer::serve(const std::string& path, const std::string& content) const {
    const fs::path file = docroot() / path.substr(1);
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << content;
}

std::vector<RecordedRequest> TestHttpsServer::requests() const {
    std::vector<RecordedRequest> out;
    std::ifstream in(m_folder / "requests.log");
    std::string line;
    while (std::getline(in, line)) {
        RecordedRequest request;
        std::istringstream fields(line);
        std::getline(fields, request.path, '\t');
        std::getline(fields, request.userAgent, '\t');
        std::getline(fields, request.cacheControl, '\t');
        out.push_back(request);
    }
    return out;
}

void TestHttpsServer::clearRequests() const {
    std::ofstream(m_folder / "requests.log", std::ios::trunc).flush();
}

int closedLoopbackPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    int port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
        port = ntohs(address.sin_port);
    }
    ::close(fd);
    return port;
}

std::string percentDecode(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size()) {
            out.push_back(static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16)));
            i += 2;
        } else {
            out.push_back(text[i] == '+' ? ' ' : text[i]);
        }
    }
    return out;
}
