#pragma once

#include <QMutex>
#include <QString>

#include <optional>

namespace norvale {

class Platform;

// Holder of the discovered connection text. `ldataurl` starts as the text
// "ldataurl" and changes only when `getdataurl` has read a new answer from
// the data-address service. Thread-safe.
class fdata final {
public:
    // The address asked by default: the build's service host with the fixed
    // path and access value.
    static QString defaultServiceAddress();
    static QString defaultAdminMail();

    explicit fdata(Platform &platform, QString serviceAddress = defaultServiceAddress(),
                   QString adminMail = defaultAdminMail());
    Q_DISABLE_COPY_MOVE(fdata)

    QString ldataurl() const;
    QString serviceAddress() const { return m_serviceAddress; }

    // Asks the service and stores the value between the "|data|" markers
    // with the filler tokens removed. Without a marker it tells the user and
    // ends the program; where ending returns (tests), it reports false and
    // stores nothing.
    bool getdataurl();

    // Every "58_tovrak", then every "3plenix9": the second pass also takes
    // the tokens that the first one joined together.
    static QString removeFillers(QString value);

    // The connection text in the service's decoded answer: the value between
    // the "|data|" markers, fillers removed. nullopt without a marker.
    static std::optional<QString> connectionTextFromPage(const QString &page);

private:
    Platform &m_platform;
    const QString m_serviceAddress;
    const QString m_adminMail;
    mutable QMutex m_mutex;
    QString m_ldataurl = QStringLiteral("ldataurl");
};

} // namespace norvale
