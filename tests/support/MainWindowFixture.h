#pragma once

#include "norvale/core/data/ServerDatabase.h"
#include "norvale/gui/main/Fdomain.h"
#include "tests/support/Controls.h"
#include "tests/support/RecordingPlatform.h"

#include <QList>
#include <QStringList>

namespace norvale::test {

// The main window with what it depends on, as the start-up sequence makes
// it. Nothing listens at its data service: a window that asked it anything
// would end the run.
struct OfflineMainWindow {
    RecordingPlatform platform;
    ServerDatabase database{platform, QStringLiteral("http://127.0.0.1:9/geturl/dataurl.asp?checkin=x")};
    Fdomain window{database, platform};

    ResultGridView &view() const { return *control<ResultGridView>(window, "grid1"); }
};

// Gives grid these rows below its header row, each row's cells from column 0.
inline void writeRows(ResultGridModel &grid, const QList<QStringList> &rows)
{
    grid.setRows(int(rows.size()) + 1);
    for (int r = 0; r < rows.size(); ++r) {
        for (int c = 0; c < rows[r].size(); ++c)
            grid.setCellText(r + 1, c, rows[r][c]);
    }
}

} // namespace norvale::test
