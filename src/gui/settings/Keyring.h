#pragma once

#include <QObject>
#include <QString>

#include <cstdint>
#include <functional>

// The desktop's keyring (the Secret Service or KWallet), holding one password per router, each
// item named for its router: "Velmo router password for 192.168.1.1:80". It never falls back to a
// file of its own: without a keyring nothing is stored.
class CKeyring : public QObject {
public:
    enum class Result { Ok, NotFound, Failed };
    // `text` is the password read, or why the keyring failed.
    using Done = std::function<void(Result result, const QString& text)>;

    // Whether a keyring answers, or can be started, on the session bus; if not, `why` says so.
    static bool IsAvailable(QString* why);
    // Names the router by its address (host order) and port: "192.168.1.1:80".
    static QString RouterKey(std::uint32_t address, std::uint16_t port);
    // What the keyring shows of the password for the router `key`.
    static QString ItemName(const QString& key);

    // Each answers `done` later, on this thread, unless this object is gone by then. A password
    // stored by earlier versions, under the program's name alone, is still read, and moved under
    // the router's name; Remove removes it too.
    void Read(const QString& key, Done done);
    void Write(const QString& key, const QString& password, Done done);
    void Remove(const QString& key, Done done);
};
