#pragma once

#include "norvale/core/search/SearchRules.h"
#include "norvale/gui/main/FdomainControls.h"

#include <QMainWindow>
#include <QPointer>

#include <atomic>
#include <memory>

namespace norvale {

class Configuration;
class Fabout;
class Fhelp;
class FdomainResults;
class FdomainSearch;
class FdomainTools;
class Platform;
class ServerDatabase;

// The main window: keyword box, extension choices, the result grid `grid1`
// with its record counter and progress bar, tool buttons and menus.
//
// Every control carries its name as objectName. The seventeen extension boxes
// form the array `lextendnum`, named "lextendnum(0)" to "lextendnum(16)", so
// that they stay apart from the "全部" box, whose own name is "lextendnum1".
// The top panel's controls stand where a table of places puts them.
//
// Activate is the window's WindowActivate event; it runs Activate(), which
// emits activated() first (the start-up sequence closes its splash on it).
class Fdomain final : public QMainWindow {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(Fdomain)

public:
    static constexpr int ExtensionCount = kindCount;
    // The designed client area, in twips: the window's smallest size.
    static constexpr int ClientWidth = 10965;
    static constexpr int ClientHeight = 8820;
    // lfind holds a whole pasted or imported keyword list.
    static constexpr int MaxKeywordText = 16 * 1024 * 1024;

    // The database must outlive the window and every search it started.
    Fdomain(ServerDatabase &database, Platform &platform, QWidget *parent = nullptr);
    // Shared: search workers still finishing a query after the window has
    // gone keep it alive.
    Fdomain(std::shared_ptr<ServerDatabase> database, Platform &platform, QWidget *parent = nullptr);
    ~Fdomain() override;

    // The operator's configuration, which must outlive the window. Until it
    // has loaded the search has no status page address, and the entries that
    // need an address wait for it.
    void setConfiguration(const Configuration &config);
    // The about window "关于" shows.
    void setAbout(Fabout *about);

    FdomainSearch &search() const { return *m_search; }
    // Grid clicks, the tool menu and buttons, the configured pages and the
    // lookup windows they open.
    FdomainTools &tools() const { return *m_tools; }
    // Keyword lists from a file, the free-names filter, copy and export.
    FdomainResults &results() const { return *m_results; }

    // Set-up before the window is first shown: the grid's columns and the
    // window's place. Touches no network and no database.
    void Load();
    // Leaves the progress bar alone while a search runs: the bar belongs to
    // the search until its end.
    void Activate();

    // Hides the progress bar and empties it.
    void resetslide();
    // Shows percent (clamped to 0..100) as text and as the fill's share of
    // the track.
    void setslide(int percent);

    // True when idle or when a running search is asked to stop (false before
    // the first search). The workers stop through their engine; a row that
    // reaches the window while this is set is not written.
    bool stopflag() const { return m_stopflag.load(); }
    void setStopflag(bool value) { m_stopflag.store(value); }

    // Sets stopflag, stops a running search, keeps what the window
    // remembers and ends the process.
    void endProgram();

    // The file the window keeps its ticks, column widths, size and place in
    // between runs: read now (call it after Load and before the window is
    // shown), written when the program ends. Without one nothing is kept.
    void rememberIn(const QString &settingsFile);
    void saveSettings() const;

    // The controls, for the window's own parts; everything else finds a
    // control by its objectName, as a user's tools do.
    const FdomainControls &controls() const { return m_c; }

signals:
    void activated();

protected:
    bool event(QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void buildTopPanel(QWidget *client);
    void buildResultStrip(QWidget *client);
    void buildMenus();
    void connectSearch();
    // Places what follows the window's size: the grid takes the room beyond
    // the designed size, the strip below it keeps to its bottom edge.
    void layoutClient();

    Platform &m_platform;
    std::atomic_bool m_stopflag{false};
    QPointer<Fabout> m_about;
    QPointer<Fhelp> m_help;

    FdomainControls m_c;
    QWidget *m_client = nullptr;
    QGroupBox *m_Frame6 = nullptr;
    QLabel *m_Label1 = nullptr;
    QFrame *m_Frame1 = nullptr;
    QString m_settingsFile;


    // Ends its search's reporting before the base class deletes the widgets.
    std::unique_ptr<FdomainSearch> m_search;
    // Its windows go with the main window.
    std::unique_ptr<FdomainTools> m_tools;
    std::unique_ptr<FdomainResults> m_results;
};

} // namespace norvale
