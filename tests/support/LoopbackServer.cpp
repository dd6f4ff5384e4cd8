#include "support/LoopbackServer.h"

#include <httplib.h>
#include <netinet/tcp.h>

#include <set>
#include "support/Wait.h"

CLoopbackServer::CLoopbackServer(std::string address)
    : m_server(std::make_unique<httplib::Server>()), m_address(std::move(address)) {
    m_server->set_keep_alive_max_count(1000000);
    // Accepted sockets inherit TCP_NODELAY; without it the header and body writes of each answer
    // wait on delayed acknowledgements.
    m_server->set_socket_options([](int sock) {
        const int yes = 1;
        setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        setsockopt(sock, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
    });
    const auto handle = [this](const httplib::Request& req, httplib::Response& res) {
        Handle(req, res);
    };
    m_server->Get(".*", handle);
    m_server->Post(".*", handle);
    m_port = static_cast<std::uint16_t>(m_server->bind_to_any_port(m_address));
    m_thread = std::thread([this] { m_server->listen_after_bind(); });
    if (!WaitUntil([this] { return m_server->is_running(); })) {
        throw std::runtime_error("the loopback server did not start");
    }
}

void CLoopbackServer::Handle(const httplib::Request& req, httplib::Response& res) {
    Request seen{req.path, req.target, {}, req.remote_port, req.method, req.body};
    for (const auto& [name, value] : req.headers) {
        seen.headers.emplace(name, value);
    }
    Page page;
    {
        std::lock_guard lock(m_mutex);
        m_requests.push_back(seen);
        const std::string given = req.get_header_value("Authorization");
        std::optional<Page> routed = m_router ? m_router(seen) : std::nullopt;
        if (routed) {
            page = std::move(*routed);
        } else if (m_authorization && given != *m_authorization) {
            page.status = 401;
            page.body = "<html><body><h1>401 Unauthorized</h1></body></html>";
            page.headers.emplace_back("WWW-Authenticate", "Basic realm=\"router\"");
        } else {
            page = Answer(req.target);
        }
    }
    if (page.delay.count() > 0) {
        std::unique_lock lock(m_mutex);
        m_stopped.wait_for(lock, page.delay, [this] { return m_bStopping; });
    }
    res.status = page.status;
    for (const auto& [name, value] : page.headers) {
        res.set_header(name, value);
    }
    if (page.pieceSize == 0 && !page.bDropMidBody) {
        res.set_content(page.body, "text/html");
        return;
    }
    const std::size_t length = page.body.size();
    const std::size_t piece = page.pieceSize != 0 ? page.pieceSize : length;
    res.set_content_provider(
        length, "text/html",
        [this, page, piece](std::size_t offset, std::size_t, httplib::DataSink& sink) {
            if (page.bDropMidBody && offset >= page.body.size() / 2) {
                return false;  // closes the connection
            }
            if (page.pieceDelay.count() > 0) {
                std::unique_lock lock(m_mutex);
                if (m_stopped.wait_for(lock, page.pieceDelay, [this] { return m_bStopping; })) {
                    return false;
                }
            }
            const std::size_t n = std::min(piece, page.body.size() - offset);
            sink.write(page.body.data() + offset, n);
            return true;
        });
}

CLoopbackServer::~CLoopbackServer() {
    {
        std::lock_guard lock(m_mutex);
        m_bStopping = true;
    }
    m_stopped.notify_all();
    m_server->stop();
    m_thread.join();
}

CLoopbackServer::Page CLoopbackServer::Stalling() {
    Page page;
    page.body = std::string(100, 's');
    page.pieceSize = 10;
    page.pieceDelay = std::chrono::seconds(60);
    return page;
}

CLoopbackServer::Page CLoopbackServer::Answer(const std::string& target) const {
    if (const auto found = m_pages.find(target); found != m_pages.end()) {
        return found->second;
    }
    if (m_others) {
        return m_others(target);
    }
    Page missing;
    missing.status = 404;
    missing.body = "<html><body><h1>404 Not Found</h1></body></html>";
    return missing;
}

void CLoopbackServer::Serve(const std::string& target, Page page) {
    std::lock_guard lock(m_mutex);
    m_pages[target] = std::move(page);
}

void CLoopbackServer::Serve(const std::string& target, int status, std::string body) {
    Page page;
    page.status = status;
    page.body = std::move(body);
    Serve(target, std::move(page));
}

void CLoopbackServer::Redirect(const std::string& target, const std::string& location) {
    Page page;
    page.status = 302;
    page.headers.emplace_back("Location", location);
    page.body = "<html><body>Moved</body></html>";
    Serve(target, std::move(page));
}

void CLoopbackServer::ServeOthers(std::function<Page(const std::string&)> pages) {
    std::lock_guard lock(m_mutex);
    m_others = std::move(pages);
}

void CLoopbackServer::Route(std::function<std::optional<Page>(const Request&)> router) {
    std::lock_guard lock(m_mutex);
    m_router = std::move(router);
}

std::string CLoopbackServer::Request::Header(const std::string& name) const {
    const auto found = headers.find(name);
    return found != headers.end() ? found->second : std::string();
}

void CLoopbackServer::RequireAuthorization(const std::string& headerValue) {
    std::lock_guard lock(m_mutex);
    m_authorization = headerValue;
}

std::string CLoopbackServer::Url(const std::string& target) const {
    return "http://" + m_address + ":" + std::to_string(m_port) + target;
}

std::vector<CLoopbackServer::Request> CLoopbackServer::Requests() const {
    std::lock_guard lock(m_mutex);
    return m_requests;
}

std::vector<std::string> CLoopbackServer::RequestedTargets() const {
    std::vector<std::string> targets;
    for (const Request& request : Requests()) {
        targets.push_back(request.target);
    }
    return targets;
}

std::size_t CLoopbackServer::ConnectionCount() const {
    std::set<int> connections;
    for (const Request& request : Requests()) {
        connections.insert(request.connection);
    }
    return connections.size();
}
