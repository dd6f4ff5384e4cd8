#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

// A router that breaks HTTP on purpose, on plain sockets, for what a server library will not send:
// answers without a status line, endless interim answers, bodies shorter than announced, broken
// chunking, resets in mid-body, a byte at a time, or nothing at all. It binds one loopback address,
// 127.0.0.1 unless told otherwise (another 127.x address stands for another host, "::1" for the
// same name's IPv6 address), and answers each request target with the Answer served for it; other
// targets get a 404 page. Every wait inside it ends when it is destroyed.
class CHostileRouter {
public:
    enum class Ending {
        Close,      // close the connection once the answer is sent
        Reset,      // abort it with a TCP reset
        Hang,       // keep it open and send nothing more
        KeepAlive,  // read the next request on it
    };
    struct Answer {
        std::string bytes;                  // sent as they stand: status line, headers, body
        std::string repeat;                 // then sent again and again,
        std::uint64_t repeatLimit = 0;      // this many bytes in all (0: until the client goes)
        std::chrono::milliseconds drip{0};  // above 0: one byte at a time, this far apart
        Ending ending = Ending::Close;
    };

    static Answer Page(std::string body, int status = 200);  // well formed, kept alive
    static Answer Redirect(const std::string& location);     // 302, kept alive
    static Answer Http09(std::string body);                  // the body alone, no status line
    static Answer EndlessInterim(std::chrono::milliseconds drip = {});  // "100 Continue" for ever
    static Answer Drip(std::string body, std::chrono::milliseconds interval);  // a byte at a time
    static Answer EndlessBody();                                       // chunks that never end
    static Answer Huge(std::uint64_t size);                            // a body of `size` bytes
    static Answer ShortBody(std::string body, std::size_t announced);  // closes before the end
    static Answer BadChunking(std::string body);   // a chunk size that is not hex
    static Answer ResetMidBody(std::string body);  // half the body, then a reset
    static Answer Silent();                        // accepts and says nothing
    // Links holding CR, LF, ESC, a NUL (which hides the link after it) and "..": followed, they
    // must reach the request line escaped, or as they stand.
    static Answer TrickyLinks();
    // Two relative links into folders of their own: served for every target, a tree without end
    // that a depth-first crawl goes down until its URLs are as long as they may be, then across.
    static Answer EndlessTreePage();

    // Answers for targets that have no Answer of their own: generated sites, deep chains.
    using Answers = std::function<Answer(const std::string& target)>;

    // `port` 0 takes an ephemeral one.
    explicit CHostileRouter(const std::string& address = "127.0.0.1", std::uint16_t port = 0);
    ~CHostileRouter();
    CHostileRouter(const CHostileRouter&) = delete;
    CHostileRouter& operator=(const CHostileRouter&) = delete;

    void Serve(const std::string& target, Answer answer);
    void ServeOthers(Answers answers);

    std::uint16_t Port() const { return m_port; }
    std::string Url(const std::string& target) const;

    // Counts requests without keeping them, for sites without end.
    void KeepNoRequests() { m_bKeep = false; }
    std::size_t RequestCount() const { return m_nRequests.load(); }
    // The request targets received, in order, as they stood on the request line.
    std::vector<std::string> RequestedTargets() const;
    // The value of header `name` in request `index`, or "<none>".
    std::string Header(std::size_t index, std::string_view name) const;

private:
    struct Received {
        std::string target;
        std::string head;
    };

    void AcceptLoop();
    void Converse(int connection);
    bool SendAnswer(int connection, const Answer& answer);
    bool SendAll(int connection, std::string_view bytes);
    Answer Find(const std::string& target) const;

    std::string m_host;  // as it goes in a URL
    int m_listener = -1;
    std::uint16_t m_port = 0;
    std::atomic<bool> m_bStopping{false};
    std::atomic<bool> m_bKeep{true};
    std::atomic<std::size_t> m_nRequests{0};
    std::thread m_acceptor;

    mutable std::mutex m_mutex;
    std::vector<std::thread> m_conversations;
    std::map<std::string, Answer> m_answers;
    Answers m_others;
    std::vector<Received> m_received;
};
