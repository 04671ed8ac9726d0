#pragma once

#include <QString>

namespace norvale {

// Where the program asks for its database's connection text. The built-in
// base is a build setting; the command line and the environment can point a
// run elsewhere (another port, another host) without a new build.
inline constexpr char dataServiceOption[] = "data-service";
inline constexpr char dataServiceVariable[] = "NORVALE_DATA_SERVICE";

struct DataServiceBase {
    QString base;   // scheme, host, port (and a path, when the service sits under one); no trailing "/"
    QString error;  // why the chosen value cannot be used; empty when it can
};

// The base in force: fromCommandLine when it is not empty, else the
// environment's NORVALE_DATA_SERVICE when that is set and not empty, else the
// build's NORVALE_DATA_SERVICE_BASE. The chosen value must be an http or
// https address with a host and without query or fragment.
DataServiceBase effectiveDataServiceBase(const QString &fromCommandLine = {});

// The data-address service's full address on a base: the fixed path and
// access value appended.
QString dataServiceAddress(const QString &base);

} // namespace norvale
