#include "norvale/core/config/Configuration.h"

namespace norvale {

Configuration::Configuration(QObject *parent) : QObject(parent) {}

Configuration::Configuration(ConfigRecord record, QObject *parent) : QObject(parent)
{
    load(std::move(record));
}

void Configuration::load(ConfigRecord record)
{
    if (m_loaded)
        return;
    m_record = std::move(record);
    m_loaded = true;
    emit loaded();
}

bool Configuration::offersUpgrade() const
{
    return m_loaded && norvale::offersUpgrade(text(ConfigKey::Version));
}

void Configuration::whenLoaded(const QObject *context, std::function<void()> action) const
{
    if (m_loaded)
        action();
    else
        connect(this, &Configuration::loaded, context, std::move(action), Qt::SingleShotConnection);
}

} // namespace norvale
