#pragma once

#include "norvale/core/config/ConfigRecord.h"

#include <QObject>

#include <functional>

namespace norvale {

// The operator's configuration for one run of the program: empty until the
// start-up has read it, then loaded once and read-only. The start-up owns
// it; windows and the command line read their addresses from it.
class Configuration final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(Configuration)

public:
    explicit Configuration(QObject *parent = nullptr);
    // Loaded at once, for a record read without the start-up.
    explicit Configuration(ConfigRecord record, QObject *parent = nullptr);

    bool isLoaded() const { return m_loaded; }
    // The first call loads the record and emits loaded(); later calls are ignored.
    void load(ConfigRecord record);

    // The text of a key; empty until loaded.
    QString text(ConfigKey key) const { return m_record.value(key); }
    const ConfigRecord &record() const { return m_record; }
    // Whether the announced newest version is above ours.
    bool offersUpgrade() const;

    // Runs action now when loaded, else once loaded, unless context has gone by then.
    void whenLoaded(const QObject *context, std::function<void()> action) const;

signals:
    void loaded();

private:
    ConfigRecord m_record;
    bool m_loaded = false;
};

} // namespace norvale
