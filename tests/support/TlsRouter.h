#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

// A router that serves its pages over https, as routers with TLS do: Debian's nginx on 127.0.0.1,
// with a self-signed certificate that openssl makes for it, Basic authorization (admin, secret),
// and its plain port answering 307 to the same path over https. The https server also listens on
// a second port and on 127.0.0.2, and /to-http, /to-other-port and /to-other-address redirect
// there (to /landing), so that tests see where credentials go. ChangeKey gives it a new key on
// the same address and port. nginx runs as this process's child, ended by its pid.
class CTlsRouter {
public:
    struct Request {
        std::string address;  // the server address that took it, "127.0.0.1"
        std::uint16_t port = 0;
        std::string connection;     // one value per TCP connection
        std::string authorization;  // the header's value, "-" when none
        std::string target;
    };

    // Throws std::runtime_error when nginx or openssl cannot be started.
    CTlsRouter();
    ~CTlsRouter();
    CTlsRouter(const CTlsRouter&) = delete;
    CTlsRouter& operator=(const CTlsRouter&) = delete;

    // A file of the site, served at `path` to those who give the password.
    void Serve(const std::string& path, const std::string& body);

    std::uint16_t Port() const { return m_port; }  // https
    std::uint16_t OtherPort() const { return m_otherPort; }
    std::uint16_t PlainPort() const { return m_plainPort; }  // 307 to https
    std::string Url(const std::string& path) const;          // https://127.0.0.1:PORT/path
    std::string PlainUrl(const std::string& path) const;

    // The key as Velmo shows and pins it: "sha256//BASE64" of its SubjectPublicKeyInfo.
    const std::string& Pin() const { return m_pin; }
    // A new key and certificate; nginx is restarted on the same ports with them.
    void ChangeKey();

    // In the order nginx logged them, every request answered so far included.
    std::vector<Request> Requests() const;
    std::size_t ConnectionCount() const;

private:
    void MakeKey();
    void Start();
    void Stop();

    std::string m_dir;
    std::uint16_t m_port = 0;
    std::uint16_t m_otherPort = 0;
    std::uint16_t m_plainPort = 0;
    std::string m_pin;
    pid_t m_pid = -1;
    int m_nKeys = 0;
    mutable int m_nSettles = 0;
};
