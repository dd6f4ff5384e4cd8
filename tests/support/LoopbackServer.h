#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace httplib {
class Server;
struct Request;
struct Response;
}  // namespace httplib

// An HTTP server on a loopback address (127.0.0.1 unless told; another 127.x stands for another
// host) with an ephemeral port that answers like a router would, and misbehaves on request: 401
// and 404 with bodies, redirects, cookies, delays, bodies written in small pieces, connections
// closed in mid-body. CHostileRouter breaks HTTP itself.
class CLoopbackServer {
public:
    struct Page {
        int status = 200;
        std::string body;
        std::vector<std::pair<std::string, std::string>> headers;
        std::chrono::milliseconds delay{0};  // before the answer starts
        std::size_t pieceSize = 0;           // 0: the body in one write
        std::chrono::milliseconds pieceDelay{0};
        bool bDropMidBody = false;  // announce the whole length, send half, close
    };
    struct Request {
        std::string path;    // decoded, without the query
        std::string target;  // as it stood on the request line
        std::multimap<std::string, std::string> headers;
        int connection = 0;  // the client's port: one value per TCP connection
        std::string method = "GET";
        std::string body;  // of a POST

        std::string Header(const std::string& name) const;  // the first of that name, or ""
    };

    // A page that sends its first bytes and then nothing for a minute: a transfer in flight.
    static Page Stalling();

    explicit CLoopbackServer(std::string address = "127.0.0.1");
    ~CLoopbackServer();
    CLoopbackServer(const CLoopbackServer&) = delete;
    CLoopbackServer& operator=(const CLoopbackServer&) = delete;

    // Pages are keyed by request target (path and query, as sent).
    void Serve(const std::string& target, Page page);
    void Serve(const std::string& target, int status, std::string body);
    void Redirect(const std::string& target, const std::string& location);
    // Answers targets that have no page of their own; without it they get 404 with a body.
    void ServeOthers(std::function<Page(const std::string& target)> pages);
    // A router of its own: sees every request (GET and POST) first, and answers those it gives a
    // page for; the others are answered as above.
    void Route(std::function<std::optional<Page>(const Request& request)> router);
    // Every request whose Authorization header differs gets 401 with an HTML body.
    void RequireAuthorization(const std::string& headerValue);

    std::uint16_t Port() const { return m_port; }
    std::string Url(const std::string& target) const;

    std::vector<Request> Requests() const;
    std::vector<std::string> RequestedTargets() const;
    std::size_t ConnectionCount() const;

private:
    Page Answer(const std::string& target) const;
    void Handle(const httplib::Request& req, httplib::Response& res);

    std::unique_ptr<httplib::Server> m_server;
    std::thread m_thread;
    std::string m_address;
    std::uint16_t m_port = 0;

    mutable std::mutex m_mutex;
    std::condition_variable m_stopped;
    bool m_bStopping = false;
    std::map<std::string, Page> m_pages;
    std::function<Page(const std::string&)> m_others;
    std::function<std::optional<Page>(const Request&)> m_router;
    std::optional<std::string> m_authorization;
    std::vector<Request> m_requests;
};
