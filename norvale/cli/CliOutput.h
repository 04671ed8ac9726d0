#pragma once

#include <QByteArray>

namespace norvale::cli {

// Standard output and error as the command line uses them. Every write is
// flushed at once, so that a reader sees each row as it completes.
void writeOut(const QByteArray &bytes);
void writeError(const QByteArray &bytes);

bool outputIsTerminal();
bool errorIsTerminal();
bool inputIsTerminal();
// Standard output is a file being written from its start: "> rows.csv".
bool outputIsFreshFile();

} // namespace norvale::cli
