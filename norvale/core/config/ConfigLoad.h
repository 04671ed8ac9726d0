#pragma once

#include "norvale/core/config/ConfigRecord.h"

#include <QString>

namespace norvale {

class ServerDatabase;

struct ConfigLoadResult {
    enum class Outcome {
        Loaded,
        Failed,   // error holds the text to show before the program ends
        Ending,   // discovery failed: the connection layer already told the user and ended
    };
    Outcome outcome = Outcome::Failed;
    ConfigRecord record;
    QString error;
};

// The longest value a configuration column may hold, in characters: the
// longest address a browser takes whole is a few KiB, and every value is
// shown or kept by some window.
inline constexpr qsizetype kConfigValueLimit = 4096;

// Reads lconfig_all once: the first row the server returns, each key's column
// by name, its value as text. A missing row, a missing column, a NULL or a
// value over kConfigValueLimit fails the load, as does any error of the
// database layer, whose own message is then kept. Blocks the calling thread;
// run it on a worker.
ConfigLoadResult loadConfigRecord(ServerDatabase &database);

// The same on a known connection text, without asking for one.
ConfigLoadResult loadConfigRecord(const QString &connectionText);

} // namespace norvale
