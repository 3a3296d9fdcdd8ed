// A small HTTPS server on 127.0.0.1 for the online tests: python3's
// http.server behind TLS with a certificate from a test CA made by openssl.
// GET of a path serves the file of that name below docroot(), any other
// path answers 200 with an empty body; every request's path, user agent
// and Cache-Control header is appended to a log the test reads.
#pragma once
#include <filesystem>
#include <string>
#include <vector>

#include "platform/process.h"

struct RecordedRequest {
    std::string path;  // path and query as sent
    std::string userAgent;
    std::string cacheControl;
};

class TestHttpsServer {
public:
    // Makes the certificates and starts the server; false with the reason in
    // error() when openssl or python3 is missing or the server does not come up.
    bool start(const std::filesystem::path& folder);
    void stopServer();
    const std::string& error() const { return m_error; }

    std::string host() const { return "127.0.0.1:" + std::to_string(m_port); }
    std::filesystem::path caFile() const { return m_folder / "ca.pem"; }
    // A CA that did not sign the server's certificate.
    std::filesystem::path otherCaFile() const { return m_folder / "other-ca.pem"; }
    std::filesystem::path docroot() const { return m_folder / "docroot"; }
    void serve(const std::string& path, const std::string& content) const;

    std::vector<RecordedRequest> requests() const;
    void clearRequests() const;

private:
    std::filesystem::path m_folder;
    platform::ChildProcess m_process;
    int m_port = 0;
    std::string m_error;
};

// A loopback port that nothing listens on.
int closedLoopbackPort();

// Percent-decoding of a query value.
std::string percentDecode(const std::string& text);
