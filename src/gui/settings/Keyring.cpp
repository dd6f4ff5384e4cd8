#include "gui/settings/Keyring.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusReply>

#include <qt6keychain/keychain.h>

#include "core/net/InetAddr.h"
#include "core/text/StringTable.h"
#include "gui/text/Bytes.h"

namespace {

// The bus names of the keyrings QtKeychain can use here.
const QStringList kKeyringServices{
    QStringLiteral("org.freedesktop.secrets"), QStringLiteral("org.kde.kwalletd6"),
    QStringLiteral("org.kde.kwalletd5"), QStringLiteral("org.kde.kwalletd")};

}  // namespace

bool CKeyring::IsAvailable(QString* why) {
    const QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        *why = QStringLiteral("No desktop keyring is available: there is no session bus.");
        return false;
    }
    QDBusConnectionInterface* names = bus.interface();
    const QDBusReply<QStringList> startable = names->activatableServiceNames();
    for (const QString& service : kKeyringServices) {
        if (names->isServiceRegistered(service) ||
            (startable.isValid() && startable.value().contains(service))) {
            return true;
        }
    }
    *why = QStringLiteral(
        "No desktop keyring is available: neither the Secret Service nor KWallet answers on the "
        "session bus.");
    return false;
}

QString CKeyring::RouterKey(std::uint32_t address, std::uint16_t port) {
    return QStringLiteral("%1:%2").arg(QString::fromStdString(DottedAddress(address))).arg(port);
}

// The Secret Service names an item after the service it is stored for, so the service is the name.
QString CKeyring::ItemName(const QString& key) {
    return LoadText(IDS_APP_TITLE) + QStringLiteral(" router password for ") + key;
}

namespace {

// Runs `job`, which deletes itself when done, and answers `done` in `context` if it still exists.
void Start(QKeychain::Job* job, const QString& key, QObject* context, CKeyring::Done done) {
    job->setKey(key);
    job->setInsecureFallback(false);
    QObject::connect(job, &QKeychain::Job::finished, context,
                     [done = std::move(done)](QKeychain::Job* finished) {
                         const QKeychain::Error error = finished->error();
                         if (error == QKeychain::NoError) {
                             auto* read = qobject_cast<QKeychain::ReadPasswordJob*>(finished);
                             done(CKeyring::Result::Ok, read ? read->textData() : QString());
                         } else if (error == QKeychain::EntryNotFound) {
                             done(CKeyring::Result::NotFound, QString());
                         } else {
                             done(CKeyring::Result::Failed, finished->errorString());
                         }
                     });
    job->start();
}

}  // namespace

void CKeyring::Read(const QString& key, Done done) {
    Start(new QKeychain::ReadPasswordJob(ItemName(key)), key, this,
          [this, key, done = std::move(done)](Result result, const QString& text) {
              if (result != Result::NotFound) {
                  done(result, text);
                  return;
              }
              Start(new QKeychain::ReadPasswordJob(LoadText(IDS_APP_TITLE)), key, this,
                    [this, key, done](Result legacy, const QString& password) {
                        if (legacy == Result::Ok) {
                            Write(key, password, [this, key](Result written, const QString&) {
                                if (written == Result::Ok) {
                                    Start(new QKeychain::DeletePasswordJob(LoadText(IDS_APP_TITLE)),
                                          key, this, [](Result, const QString&) {});
                                }
                            });
                        }
                        done(legacy, password);
                    });
          });
}

void CKeyring::Write(const QString& key, const QString& password, Done done) {
    auto* job = new QKeychain::WritePasswordJob(ItemName(key));
    job->setTextData(password);
    Start(job, key, this, std::move(done));
}

void CKeyring::Remove(const QString& key, Done done) {
    Start(new QKeychain::DeletePasswordJob(ItemName(key)), key, this,
          [this, key, done = std::move(done)](Result result, const QString& why) {
              Start(new QKeychain::DeletePasswordJob(LoadText(IDS_APP_TITLE)), key, this,
                    [done, result, why](Result legacy, const QString& legacyWhy) {
                        if (result == Result::Failed || legacy == Result::Failed) {
                            done(Result::Failed, result == Result::Failed ? why : legacyWhy);
                        } else {
                            done(result == Result::Ok || legacy == Result::Ok ? Result::Ok
                                                                              : Result::NotFound,
                                 QString());
                        }
                    });
          });
}
