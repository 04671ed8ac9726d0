#pragma once

#include <QLatin1StringView>
#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>
#include <memory>

namespace norvale {

class Configuration;
enum class ConfigKey : quint8;
class Fdomain;
class Fip;
class Fwhois;
class Platform;
class ServerDatabase;
class ToolWindow;
class fback;

// The main window's ways into everything beyond the search: clicks on the
// result grid, the tool menu and buttons, the registrar and the operator's
// pages. It owns the three lookup windows, each made on first use (whois and
// filing again after their title-bar close destroyed them).
//
// Entries that need a configured address wait for the configuration while
// it is still loading and run, in order, once it has come.
class FdomainTools final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(FdomainTools)

public:
    FdomainTools(Fdomain &window, std::shared_ptr<ServerDatabase> database, Platform &platform);
    ~FdomainTools() override;

    // Where the configured addresses come from; it must outlive this object.
    void setConfiguration(const Configuration &config);

    Fwhois &whois();
    Fip &ip();
    fback &filing();
    // The windows as they are now; nullptr when not made (or destroyed).
    Fwhois *whoisWindow() const;
    Fip *ipWindow() const { return m_ip.get(); }
    fback *filingWindow() const;

    // A completed click on a cell of grid1.
    void cellClicked();
    // "域名注册" and "注册".
    void registerActiveRow();
    // "WHOIS信息", "IP反查", "备案查询" and their buttons: the window for the
    // text of column `column` of the active row.
    void openForActiveRow(ToolWindow &window, int column);
    // "官方网站", "论坛", "留言本", "聊天室", "Norvale网页版".
    void openConfigured(ConfigKey key);
    // Runs action now when the configuration has come, else once it has.
    void whenConfigured(std::function<void()> action);

private:
    void registerDomain(const QString &domain);
    void openLookup(ToolWindow &window, const QString &text);
    QString config(ConfigKey key) const;
    void configurationLoaded();
    bool isConfigured() const;
    void openAddress(const QString &address);

    Fdomain &m_window;
    std::shared_ptr<ServerDatabase> m_database;
    Platform &m_platform;
    const Configuration *m_config = nullptr;
    QList<std::function<void()>> m_waiting;  // until the configuration has come
    QPointer<Fwhois> m_whois;
    std::unique_ptr<Fip> m_ip;
    QPointer<fback> m_filing;
};

} // namespace norvale
