#pragma once

#include "norvale/core/search/ResultExport.h"

#include <QString>

class QIODevice;
#include <QtGlobal>

namespace norvale::cli {

// What a cut search left in its file (CSV or JSON, as the search writes
// them): the whole rows at its start, and where they end. A torn last row,
// and JSON's closing bracket, lie beyond `keep` and are written again.
struct ResumePoint {
    quint64 rows = 0;
    qint64 keep = 0;      // bytes worth keeping; 0: nothing, not even the header
    QString lastDomain;   // of the last whole row
    QString error;        // the file is no output of a search in this format
};

// From the start of file.
ResumePoint readResumePoint(QIODevice &file, ResultFormat format);

} // namespace norvale::cli
