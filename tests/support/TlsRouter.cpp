#include "support/TlsRouter.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <set>
#include <sstream>
#include <stdexcept>

#include "support/Process.h"
#include "support/Wait.h"

namespace {

std::uint16_t FreePort() {
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
    socklen_t length = sizeof address;
    bind(s, reinterpret_cast<sockaddr*>(&address), length);
    getsockname(s, reinterpret_cast<sockaddr*>(&address), &length);
    close(s);
    return ntohs(address.sin_port);
}

bool Accepts(const char* host, std::uint16_t port) {
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{AF_INET, htons(port), {}, {}};
    inet_pton(AF_INET, host, &address.sin_addr);
    const bool bOk = connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    close(s);
    return bOk;
}

std::string Run(const std::vector<std::string>& args, const std::string& input = {}) {
    const ProcessResult result = RunProgram(args, input, {}, {}, false, std::chrono::seconds(60));
    if (result.status != 0) {
        throw std::runtime_error(args[0] + " failed: " + result.err);
    }
    return result.out;
}

void Write(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
    chmod(path.c_str(), 0644);
}

}  // namespace

CTlsRouter::CTlsRouter() {
    if (access("/usr/sbin/nginx", X_OK) != 0 || access("/usr/bin/openssl", X_OK) != 0) {
        throw std::runtime_error("nginx and openssl are needed (tools/dev deps installs them)");
    }
    char dir[] = "/tmp/velmo-tls-XXXXXX";
    if (mkdtemp(dir) == nullptr) {
        throw std::runtime_error("no folder for nginx");
    }
    m_dir = dir;
    chmod(dir, 0755);  // nginx's workers read the site as nobody
    std::filesystem::create_directory(m_dir + "/site");
    chmod((m_dir + "/site").c_str(), 0755);
    Write(m_dir + "/htpasswd", "admin:" + Run({"/usr/bin/openssl", "passwd", "-apr1", "secret"}));
    Serve("/landing", "landed");
    m_port = FreePort();
    m_otherPort = FreePort();
    m_plainPort = FreePort();
    MakeKey();
    Start();
}

CTlsRouter::~CTlsRouter() {
    Stop();
    std::error_code ignored;
    std::filesystem::remove_all(m_dir, ignored);
}

void CTlsRouter::Serve(const std::string& path, const std::string& body) {
    const std::string file = m_dir + "/site" + path;
    std::filesystem::create_directories(std::filesystem::path(file).parent_path());
    Write(file, body);
}

std::string CTlsRouter::Url(const std::string& path) const {
    return "https://127.0.0.1:" + std::to_string(m_port) + path;
}

std::string CTlsRouter::PlainUrl(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(m_plainPort) + path;
}

// An EC key: made at once, where RSA keys take a loaded machine seconds.
void CTlsRouter::MakeKey() {
    ++m_nKeys;
    Run({"/usr/bin/openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt",
         "ec_paramgen_curve:prime256v1", "-nodes", "-days", "30", "-subj",
         "/CN=router" + std::to_string(m_nKeys) + ".test", "-keyout", m_dir + "/key.pem", "-out",
         m_dir + "/cert.pem"});
    const std::string spki =
        Run({"/usr/bin/openssl", "x509", "-in", m_dir + "/cert.pem", "-noout", "-pubkey"});
    const std::string der = Run({"/usr/bin/openssl", "pkey", "-pubin", "-outform", "der"}, spki);
    const std::string digest = Run({"/usr/bin/openssl", "dgst", "-sha256", "-binary"}, der);
    std::string base64 = Run({"/usr/bin/openssl", "base64", "-A"}, digest);
    m_pin = "sha256//" + base64;
}

void CTlsRouter::Start() {
    const std::string d = m_dir;
    const std::string tls = std::to_string(m_port), other = std::to_string(m_otherPort),
                      plain = std::to_string(m_plainPort);
    Write(d + "/nginx.conf", R"(worker_processes 1;
daemon off;
master_process on;
pid )" + d + R"(/nginx.pid;
error_log )" + d + R"(/error.log;
events {}
http {
    client_body_temp_path )" + d +
                                 R"(/body;
    proxy_temp_path )" + d + R"(/proxy;
    fastcgi_temp_path )" + d + R"(/fastcgi;
    uwsgi_temp_path )" + d + R"(/uwsgi;
    scgi_temp_path )" + d + R"(/scgi;
    keepalive_requests 100000;
    log_format seen '$server_addr $server_port $connection "$http_authorization" $request_uri';
    access_log )" + d + R"(/access.log seen;
    server {
        listen 127.0.0.1:)" + tls +
                                 R"( ssl;
        listen 127.0.0.1:)" + other +
                                 R"( ssl;
        listen 127.0.0.2:)" + tls +
                                 R"( ssl;
        ssl_certificate )" + d + R"(/cert.pem;
        ssl_certificate_key )" + d +
                                 R"(/key.pem;
        root )" + d + R"(/site;
        default_type text/html;
        auth_basic "router";
        auth_basic_user_file )" + d +
                                 R"(/htpasswd;
        location = /to-http { return 302 http://127.0.0.1:)" +
                                 plain + R"(/landing; }
        location = /to-other-port { return 302 https://127.0.0.1:)" +
                                 other + R"(/landing; }
        location = /to-other-address { return 302 https://127.0.0.2:)" +
                                 tls + R"(/landing; }
    }
    server {
        listen 127.0.0.1:)" + plain +
                                 R"(;
        return 307 https://127.0.0.1:)" +
                                 tls + R"($request_uri;
    }
}
)");
    Write(d + "/access.log", "");  // each server's requests alone
    m_pid = fork();
    if (m_pid == 0) {
        std::vector<std::string> args{"/usr/sbin/nginx", "-c", d + "/nginx.conf", "-p", d};
        ExecProgram(args, {});
    }
    const bool bUp = WaitUntil([&] {
        return Accepts("127.0.0.1", m_port) && Accepts("127.0.0.1", m_plainPort) &&
               Accepts("127.0.0.2", m_port) && Accepts("127.0.0.1", m_otherPort);
    });
    if (!bUp) {
        std::ifstream log(d + "/error.log");
        std::stringstream text;
        text << log.rdbuf();
        Stop();
        throw std::runtime_error("nginx did not start: " + text.str());
    }
}

void CTlsRouter::Stop() {
    if (m_pid > 0) {
        kill(m_pid, SIGTERM);
        waitpid(m_pid, nullptr, 0);
        m_pid = -1;
    }
}

void CTlsRouter::ChangeKey() {
    Stop();
    MakeKey();
    Start();
}

// nginx logs a request once its answer is sent, so a client may see the answer before the line. A
// request of our own, logged after every one answered before it, tells when the log is whole.
std::vector<CTlsRouter::Request> CTlsRouter::Requests() const {
    const std::string mark = "/velmo-settle-" + std::to_string(++m_nSettles);
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{AF_INET, htons(m_plainPort), {htonl(INADDR_LOOPBACK)}, {}};
    if (connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
        const std::string request = "GET " + mark + " HTTP/1.0\r\n\r\n";
        if (write(s, request.data(), request.size()) > 0) {
            char buffer[512];
            while (read(s, buffer, sizeof buffer) > 0) {
            }
        }
    }
    close(s);
    WaitUntil([&] {
        std::ifstream log(m_dir + "/access.log");
        std::stringstream text;
        text << log.rdbuf();
        return text.str().find(mark) != std::string::npos;
    });
    std::vector<Request> requests;
    std::ifstream log(m_dir + "/access.log");
    for (std::string line; std::getline(log, line);) {
        if (line.find("/velmo-settle-") != std::string::npos) {
            continue;
        }
        std::istringstream fields(line);
        Request request;
        fields >> request.address >> request.port >> request.connection >>
            std::quoted(request.authorization) >> request.target;
        requests.push_back(request);
    }
    return requests;
}

std::size_t CTlsRouter::ConnectionCount() const {
    std::set<std::string> connections;
    for (const Request& request : Requests()) {
        connections.insert(request.connection);
    }
    return connections.size();
}
