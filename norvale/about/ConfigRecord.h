#pragma once

#include <QLatin1StringView>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <array>

namespace norvale {

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

// The operator's configuration: one text per key, exactly as the database
// gave it. Read-only once loaded; it lives as long as the about window.
class ConfigRecord {
public:
    ConfigRecord() = default;
    // values[i] belongs to kConfigKeys[i]; a list of another length gives an
    // empty record.
    explicit ConfigRecord(QStringList values);

    bool isEmpty() const { return m_values.isEmpty(); }
    // The text of a key; the empty text for a key that is not in the table.
    QString value(QStringView key) const;
    QString value(QLatin1StringView key) const;
    static bool hasKey(QStringView key);

private:
    QStringList m_values;
};

// Whether the announced newest version is above our own 1.0. The text is
// read like a leading decimal number: blanks are skipped, digits with at most
// one ".", reading stops at any other character, no number at all is 0.
bool offersUpgrade(QStringView lver);

} // namespace norvale
