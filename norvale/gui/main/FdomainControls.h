#pragma once

#include "norvale/core/search/SearchRules.h"

#include <array>

class QAction;
class QCheckBox;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace norvale {

class KeywordBox;
class ResultGridView;

// The main window's controls that its parts (search, tools, results,
// settings) work with, each named by its objectName. Everything outside the
// window finds a control by that name.
struct FdomainControls {
    KeywordBox *lfind = nullptr;
    QPushButton *lgenerate = nullptr;
    QPushButton *limport = nullptr;
    QPushButton *lsearch = nullptr;
    QPushButton *lstop = nullptr;
    QPushButton *lregist = nullptr;
    QPushButton *lwhois = nullptr;
    QPushButton *lip = nullptr;
    QPushButton *lbak = nullptr;
    // "lextendnum(0)" to "lextendnum(16)", and "全部".
    std::array<QCheckBox *, kindCount> lextendnum{};
    QCheckBox *lextendnum1 = nullptr;
    QCheckBox *lshowbak = nullptr;
    QLabel *lload = nullptr;
    QGroupBox *fslide3 = nullptr;
    QLineEdit *lslide3 = nullptr;
    QFrame *lslideback3 = nullptr;
    QLabel *lslidetext3 = nullptr;
    QLabel *lkeycount = nullptr;

    ResultGridView *grid1 = nullptr;
    QLabel *lallnum = nullptr;
    QLabel *llegend = nullptr;
    QCheckBox *lonlyfree = nullptr;
    QPushButton *lexport = nullptr;

    QAction *mregist = nullptr;
    QAction *mbak = nullptr;
    QAction *mwhois = nullptr;
    QAction *mip = nullptr;
    QAction *mgenerate = nullptr;
    QAction *mimport = nullptr;
    QAction *mexport = nullptr;
    QAction *mremember = nullptr;
    QAction *mhome = nullptr;
    QAction *mbbs = nullptr;
    QAction *mgbook = nullptr;
    QAction *mchat = nullptr;
    QAction *mtext = nullptr;
    QAction *mabout = nullptr;
    QAction *mend = nullptr;
    QAction *mweb = nullptr;
};

} // namespace norvale
