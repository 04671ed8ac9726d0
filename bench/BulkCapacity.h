#pragma once

#include <QString>
#include <QStringList>

namespace norvale::bench {

// The two capacities that bound a bulk search, each measured alone.

// A-record queries per second that dnsperf gets from the DNS server at
// address:53, asking the names in turn for `seconds`; 0 and *error when
// dnsperf could not run.
double dnsQueriesPerSecond(const QString &address, const QStringList &names, int seconds, QString *error);

// Status pages per second that `connections` kept HTTP/1.1 connections get
// from 127.0.0.1:port, each asking pathPrefix + name for the names in turn,
// for `seconds`; 0 and *error when a connection failed.
double statusPagesPerSecond(quint16 port, const QString &pathPrefix, const QStringList &names, int connections,
                            int seconds, QString *error);

} // namespace norvale::bench
