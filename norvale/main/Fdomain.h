#pragma once

#include "norvale/main/KeywordBox.h"
#include "norvale/search/SearchRules.h"

#include <QMainWindow>
#include <QPointer>

#include <array>
#include <atomic>
#include <memory>

class QAction;
class QCheckBox;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;

namespace norvale {

class Fabout;
class Fhelp;
class FdomainResults;
class FdomainSearch;
class FdomainTools;
class Platform;
class ResultGridView;
class ServerDatabase;

// The main window: keyword box, extension choices, the result grid `grid1`
// with its record counter and progress bar, tool buttons and menus.
//
// Every control carries its name as objectName. The seventeen extension boxes
// form the array `lextendnum`, named "lextendnum(0)" to "lextendnum(16)", so
// that they stay apart from the "全部" box, whose own name is "lextendnum1".
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

    // The hidden about window, which holds the loaded configuration. Given
    // once the start-up sequence has loaded it; until then the search has no
    // status page address.
    void setAbout(Fabout *about);
    Fabout *about() const;

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

    KeywordBox *lfind() const { return m_lfind; }
    QPushButton *lsearch() const { return m_lsearch; }
    QPushButton *lstop() const { return m_lstop; }
    QPushButton *lregist() const { return m_lregist; }
    QPushButton *lwhois() const { return m_lwhois; }
    QPushButton *lip() const { return m_lip; }
    QPushButton *lbak() const { return m_lbak; }
    QCheckBox *lextendnum(int index) const;  // nullptr outside 0..16
    QCheckBox *lextendnum1() const { return m_lextendnum1; }
    QCheckBox *lshowbak() const { return m_lshowbak; }
    QLabel *lload() const { return m_lload; }
    QGroupBox *fslide3() const { return m_fslide3; }
    QLineEdit *lslide3() const { return m_lslide3; }
    QFrame *lslideback3() const { return m_lslideback3; }
    QLabel *lslidetext3() const { return m_lslidetext3; }
    ResultGridView *grid1() const { return m_grid1; }
    QLabel *lallnum() const { return m_lallnum; }
    QPushButton *limport() const { return m_limport; }
    QPushButton *lgenerate() const { return m_lgenerate; }
    QLabel *lkeycount() const { return m_lkeycount; }
    QCheckBox *lonlyfree() const { return m_lonlyfree; }
    QPushButton *lexport() const { return m_lexport; }
    QLabel *llegend() const { return m_llegend; }

    QAction *mregist() const { return m_mregist; }
    QAction *mbak() const { return m_mbak; }
    QAction *mwhois() const { return m_mwhois; }
    QAction *mip() const { return m_mip; }
    QAction *mimport() const { return m_mimport; }
    QAction *mgenerate() const { return m_mgenerate; }
    QAction *mexport() const { return m_mexport; }
    QAction *mremember() const { return m_mremember; }
    QAction *mhome() const { return m_mhome; }
    QAction *mbbs() const { return m_mbbs; }
    QAction *mgbook() const { return m_mgbook; }
    QAction *mchat() const { return m_mchat; }
    QAction *mtext() const { return m_mtext; }
    QAction *mabout() const { return m_mabout; }
    QAction *mend() const { return m_mend; }
    QAction *mweb() const { return m_mweb; }

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

    QWidget *m_client = nullptr;
    QGroupBox *m_Frame6 = nullptr;
    QLabel *m_Label1 = nullptr;
    KeywordBox *m_lfind = nullptr;
    QPushButton *m_lsearch = nullptr;
    QPushButton *m_lstop = nullptr;
    QPushButton *m_lregist = nullptr;
    QPushButton *m_lwhois = nullptr;
    QPushButton *m_lip = nullptr;
    QPushButton *m_lbak = nullptr;
    std::array<QCheckBox *, ExtensionCount> m_lextendnum{};
    QCheckBox *m_lextendnum1 = nullptr;
    QCheckBox *m_lshowbak = nullptr;
    QLabel *m_lload = nullptr;
    QGroupBox *m_fslide3 = nullptr;
    QLineEdit *m_lslide3 = nullptr;
    QFrame *m_lslideback3 = nullptr;
    QLabel *m_lslidetext3 = nullptr;
    ResultGridView *m_grid1 = nullptr;
    QLabel *m_lallnum = nullptr;
    QFrame *m_Frame1 = nullptr;
    QPushButton *m_limport = nullptr;
    QPushButton *m_lgenerate = nullptr;
    QLabel *m_lkeycount = nullptr;
    QCheckBox *m_lonlyfree = nullptr;
    QPushButton *m_lexport = nullptr;
    QLabel *m_llegend = nullptr;
    QString m_settingsFile;

    QAction *m_mregist = nullptr;
    QAction *m_mbak = nullptr;
    QAction *m_mwhois = nullptr;
    QAction *m_mip = nullptr;
    QAction *m_mimport = nullptr;
    QAction *m_mgenerate = nullptr;
    QAction *m_mexport = nullptr;
    QAction *m_mremember = nullptr;
    QAction *m_mhome = nullptr;
    QAction *m_mbbs = nullptr;
    QAction *m_mgbook = nullptr;
    QAction *m_mchat = nullptr;
    QAction *m_mtext = nullptr;
    QAction *m_mabout = nullptr;
    QAction *m_mend = nullptr;
    QAction *m_mweb = nullptr;

    // Ends its search's reporting before the base class deletes the widgets.
    std::unique_ptr<FdomainSearch> m_search;
    // Its windows go with the main window.
    std::unique_ptr<FdomainTools> m_tools;
    std::unique_ptr<FdomainResults> m_results;
};

} // namespace norvale
