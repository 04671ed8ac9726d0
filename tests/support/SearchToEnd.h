#pragma once

#include "norvale/core/search/DomainSearch.h"

#include <QList>
#include <QString>

#include <functional>
#include <optional>

namespace norvale::test {

// One search (every kind, related domains on) run to its end on the calling
// thread's event loop: its rows, or nullopt when it did not end within two
// minutes. breakIt, when given, is called once: when the search has begun
// (atStart) or when its first row arrives.
std::optional<QList<SearchRow>> searchToEnd(const SearchBackend &backend, const QString &keyword,
                                             const std::function<void()> &breakIt = {}, bool atStart = false);

// A row as one line of text, for failure messages: its cells and its red mask.
QString describe(const SearchRow &row);

// Lets every worker pool finish and every report posted to this thread
// arrive. False when some worker is still busy after withinMs (-1: no limit).
bool drainWorkers(int withinMs = -1);

} // namespace norvale::test
