#include "norvale/gui/main/FdomainTools.h"

#include "norvale/core/config/Configuration.h"
#include "norvale/core/lookup/LookupBackend.h"
#include "norvale/gui/main/Fdomain.h"
#include "norvale/gui/main/ResultGridView.h"
#include "norvale/core/platform/Platform.h"
#include "norvale/core/platform/WebAddress.h"
#include "norvale/core/search/SearchRules.h"
#include "norvale/gui/tools/Fip.h"
#include "norvale/gui/tools/Fwhois.h"
#include "norvale/gui/tools/fback.h"

#include <QAction>
#include <QLineEdit>
#include <QPushButton>

#include <utility>

namespace norvale {

FdomainTools::FdomainTools(Fdomain &window, std::shared_ptr<ServerDatabase> database, Platform &platform)
    : m_window(window), m_database(std::move(database)), m_platform(platform)
{
    connect(window.controls().grid1, &ResultGridView::cellClicked, this, &FdomainTools::cellClicked);

    // Each tool button does exactly what its menu entry does, and says which
    // key does it too.
    auto both = [this](QAction *entry, QPushButton *button, const std::function<void()> &run) {
        connect(entry, &QAction::triggered, this, run);
        connect(button, &QPushButton::clicked, this, run);
        button->setToolTip(entry->text() % u"（" % entry->shortcut().toString(QKeySequence::NativeText) % u"）");
    };
    both(window.controls().mregist, window.controls().lregist, [this] { registerActiveRow(); });
    both(window.controls().mwhois, window.controls().lwhois, [this] { openForActiveRow(whois(), column::Domain); });
    both(window.controls().mip, window.controls().lip, [this] { openForActiveRow(ip(), column::Address); });
    both(window.controls().mbak, window.controls().lbak, [this] { openForActiveRow(filing(), column::Domain); });

    const std::pair<QAction *, ConfigKey> pages[] = {
        {window.controls().mhome, ConfigKey::HomePage},   {window.controls().mbbs, ConfigKey::ForumPage},
        {window.controls().mgbook, ConfigKey::GuestbookPage}, {window.controls().mchat, ConfigKey::ChatPage},
        {window.controls().mweb, ConfigKey::WebPage},
    };
    for (const auto &[entry, key] : pages)
        connect(entry, &QAction::triggered, this, [this, key = key] { openConfigured(key); });
}

FdomainTools::~FdomainTools()
{
    delete m_whois;
    delete m_filing;
}

void FdomainTools::setConfiguration(const Configuration &config)
{
    m_config = &config;
    config.whenLoaded(this, [this] { configurationLoaded(); });
}

void FdomainTools::configurationLoaded()
{
    if (m_whois)
        m_whois->setPageBase(config(ConfigKey::WhoisPage));
    if (m_ip)
        m_ip->setPages(config(ConfigKey::IpPage), config(ConfigKey::IpInfoPage));
    for (const std::function<void()> &action : std::exchange(m_waiting, {}))
        action();
}

Fwhois &FdomainTools::whois()
{
    if (!m_whois) {
        m_whois = new Fwhois(makeServerLookupBackend(m_database));
        if (isConfigured())
            m_whois->setPageBase(config(ConfigKey::WhoisPage));
    }
    return *m_whois;
}

Fip &FdomainTools::ip()
{
    if (!m_ip) {
        m_ip = std::make_unique<Fip>(makeServerLookupBackend(m_database));
        if (isConfigured())
            m_ip->setPages(config(ConfigKey::IpPage), config(ConfigKey::IpInfoPage));
    }
    return *m_ip;
}

Fwhois *FdomainTools::whoisWindow() const
{
    return m_whois;
}

fback *FdomainTools::filingWindow() const
{
    return m_filing;
}

fback &FdomainTools::filing()
{
    if (!m_filing)
        m_filing = new fback(makeServerLookupBackend(m_database));
    return *m_filing;
}

void FdomainTools::cellClicked()
{
    const ResultGridView &grid = *m_window.controls().grid1;
    const int row = grid.activeRow();
    const int col = grid.activeCol();
    // Only a click on a data row whose pointer and active cell agree counts.
    if (grid.mouseRow() <= 0 || grid.mouseRow() != row || grid.mouseCol() != col)
        return;
    const QString domain = grid.grid().cellText(row, column::DomainShown);
    if (!domain.contains(u'.'))
        return;
    switch (col) {
    case column::Filing:
        openLookup(filing(), domain);
        break;
    case column::Status:
        openLookup(whois(), domain);
        break;
    case column::Address:
        openForActiveRow(ip(), column::Address);
        break;
    default:
        registerDomain(domain);
        break;
    }
}

void FdomainTools::registerActiveRow()
{
    const ResultGridView &grid = *m_window.controls().grid1;
    const QString domain = grid.grid().cellText(grid.activeRow(), column::DomainShown);
    if (domain.contains(u'.')) {
        registerDomain(domain);
        return;
    }
    // No data row: the registrar's own page.
    whenConfigured([this] { openAddress(config(ConfigKey::BuyPage)); });
}

void FdomainTools::registerDomain(const QString &domain)
{
    m_platform.setClipboardText(domain);
    m_platform.showMessage(QStringLiteral("Norvale"), u"选中域名  " % domain % u"  已加入剪贴板", &m_window);
    whenConfigured([this, domain] { openAddress(config(ConfigKey::BuyPage) + domain); });
}

void FdomainTools::openForActiveRow(ToolWindow &window, int column)
{
    const ResultGridView &grid = *m_window.controls().grid1;
    const QString text = grid.grid().cellText(grid.activeRow(), column);
    openLookup(window, text.contains(u'.') ? text : QString());
}

void FdomainTools::openLookup(ToolWindow &window, const QString &text)
{
    window.show();
    window.raise();
    window.activateWindow();
    // Without a usable text the window keeps whatever it showed.
    if (text.isEmpty())
        return;
    window.ltext()->setText(text);
    window.lfind_Click();
}

void FdomainTools::openConfigured(ConfigKey key)
{
    whenConfigured([this, key] { openAddress(config(key)); });
}

void FdomainTools::whenConfigured(std::function<void()> action)
{
    if (isConfigured())
        action();
    else
        m_waiting.append(std::move(action));
}

bool FdomainTools::isConfigured() const
{
    return m_config && m_config->isLoaded();
}

QString FdomainTools::config(ConfigKey key) const
{
    return isConfigured() ? m_config->text(key) : QString();
}

void FdomainTools::openAddress(const QString &address)
{
    // The configuration comes from a database the user does not control:
    // only web and mail addresses reach the desktop.
    openWebAddress(m_platform, address, &m_window);
}

} // namespace norvale
