#pragma once

#include <QLatin1StringView>
#include <QtGlobal>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <array>

namespace norvale {

// The operator's settings, in the order of kConfigKeys (the column each is read from).
enum class ConfigKey : quint8 {
    Version,         // lver
    HomePage,        // lhomeurl
    DownloadAddress, // ldownurl
    Qq,              // lqq
    QqPicture,       // lqqimg
    QqPage,          // lqqurl
    TaobaoPicture,   // ltaobaoimg
    TaobaoPage,      // ltaobaourl
    MailPage,        // lmailurl
    Mail,            // lmail
    BuyPage,         // lbuyurl
    LinkPage,        // llinkurl
    BaiduPage,       // lbaidupage
    BaiduLink,       // lbaidulink
    GoogleLink,      // lgooglelink
    GooglePage,      // lgooglepage
    YahooPage,       // lyahoopage
    YahooLink,       // lyahoolink
    YoudaoPage,      // lyoudaopage
    YoudaoLink,      // lyoudaolink
    SosoPage,        // lsosopage
    BingPage,        // lbingpage
    SougouPage,      // lsougoupage
    AlexaPage,       // lalexa
    WhoisPage,       // lwhoisurl
    StatusPage,      // ldomainurl
    IpPage,          // lipurl
    IpInfoPage,      // lipmessurl
    WebPage,         // lweburl
    ForumPage,       // lbbsurl
    ChatPage,        // lchaturl
    GuestbookPage,   // lgbookurl
};

// The columns of lconfig_all that the program keeps, in the order it reads them.
inline constexpr std::array<QLatin1StringView, 32> kConfigKeys{
    QLatin1StringView("lver"),        QLatin1StringView("lhomeurl"),
    QLatin1StringView("ldownurl"),    QLatin1StringView("lqq"),
    QLatin1StringView("lqqimg"),      QLatin1StringView("lqqurl"),
    QLatin1StringView("ltaobaoimg"),  QLatin1StringView("ltaobaourl"),
    QLatin1StringView("lmailurl"),    QLatin1StringView("lmail"),
    QLatin1StringView("lbuyurl"),     QLatin1StringView("llinkurl"),
    QLatin1StringView("lbaidupage"),  QLatin1StringView("lbaidulink"),
    QLatin1StringView("lgooglelink"), QLatin1StringView("lgooglepage"),
    QLatin1StringView("lyahoopage"),  QLatin1StringView("lyahoolink"),
    QLatin1StringView("lyoudaopage"), QLatin1StringView("lyoudaolink"),
    QLatin1StringView("lsosopage"),   QLatin1StringView("lbingpage"),
    QLatin1StringView("lsougoupage"), QLatin1StringView("lalexa"),
    QLatin1StringView("lwhoisurl"),   QLatin1StringView("ldomainurl"),
    QLatin1StringView("lipurl"),      QLatin1StringView("lipmessurl"),
    QLatin1StringView("lweburl"),     QLatin1StringView("lbbsurl"),
    QLatin1StringView("lchaturl"),    QLatin1StringView("lgbookurl"),
};

static_assert(size_t(ConfigKey::GuestbookPage) + 1 == kConfigKeys.size());

// The lconfig_all column a key is read from (and the about window's name for its holder).
inline QLatin1StringView configColumn(ConfigKey key) { return kConfigKeys[size_t(key)]; }

// Every key, in column order.
constexpr std::array<ConfigKey, kConfigKeys.size()> allConfigKeys()
{
    std::array<ConfigKey, kConfigKeys.size()> keys{};
    for (size_t i = 0; i < keys.size(); ++i)
        keys[i] = ConfigKey(i);
    return keys;
}

// The operator's configuration as the database gave it: one text per key.
class ConfigRecord {
public:
    ConfigRecord() = default;
    // values[i] belongs to kConfigKeys[i]; a list of another length gives an
    // empty record.
    explicit ConfigRecord(QStringList values);

    bool isEmpty() const { return m_values.isEmpty(); }
    // The text of a key; empty in an empty record.
    QString value(ConfigKey key) const;

private:
    QStringList m_values;
};

// Whether the announced newest version is above our own 1.0. The text is
// read like a leading decimal number: blanks are skipped, digits with at most
// one ".", reading stops at any other character, no number at all is 0.
bool offersUpgrade(QStringView lver);

} // namespace norvale
