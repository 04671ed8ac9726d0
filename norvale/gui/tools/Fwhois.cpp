#include "norvale/gui/tools/Fwhois.h"

#include "norvale/core/lookup/LookupInput.h"
#include "norvale/core/lookup/WhoisLookup.h"
#include "norvale/gui/platform/WindowLayout.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>

namespace norvale {

Fwhois::Fwhois(LookupBackend backend)
    : ToolWindow("Fwhois", QStringLiteral("Whois查询"), 10545, 7770)
    , m_engine(new WhoisLookup(std::move(backend), this))
{
    setAttribute(Qt::WA_DeleteOnClose);

    m_Frame2 = place<QGroupBox>(this, "Frame2", twipRect(480, 360, 9615, 6255));
    m_Frame2->setTitle(QStringLiteral("Whois信息"));
    m_lwhois = place<QPlainTextEdit>(m_Frame2, "lwhois", twipRect(240, 360, 9135, 5655));
    m_lwhois->setReadOnly(true);  // still selectable and copyable
    m_lwhois->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_lwhois->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_lwhois->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_lwhois->setAccessibleName(QStringLiteral("Whois信息"));
    m_lwhois->setTabChangesFocus(true);  // Tab leaves the read-only text

    buildInputRow({twipRect(1440, 6960, 1815, 495), twipRect(3240, 6960, 3135, 495), QStringLiteral("域名"),
                   QStringLiteral("WHOIS 查询"), twipRect(6480, 6960, 1395, 480),
                   twipRect(8280, 6960, 1155, 480)});
    QFont hintFace(QStringLiteral("宋体"));
    hintFace.setPointSizeF(14.25);
    hint()->setFont(hintFace);
    fitText(hint(), hint()->text());
    QFont buttonFace(QStringLiteral("宋体"));
    buttonFace.setPointSizeF(10.5);
    lfind()->setFont(buttonFace);
    lclose()->setFont(buttonFace);

    setTabOrder(ltext(), lclose());
    setTabOrder(lclose(), lfind());
    setTabOrder(lfind(), m_lwhois);

    // The engine reports only its newest lookup, so whatever arrives is shown.
    connect(m_engine, &WhoisLookup::lookingUp, this,
            [this] { showResult(QString::fromUtf16(lookuptext::whoisSearching)); });
    connect(m_engine, &WhoisLookup::finished, this, [this](quint64, const QString &text) {
        showResult(text);
        focusInput();
    });
}

Fwhois::~Fwhois() = default;

void Fwhois::setPageBase(const QString &lwhoisurl)
{
    m_engine->setPageBase(lwhoisurl);
}

void Fwhois::lfind_Click()
{
    m_engine->start(ltext()->text());
}

void Fwhois::showResult(const QString &text)
{
    // Page text, never markup; the page's line breaks stay line breaks.
    m_lwhois->setPlainText(text);
}

} // namespace norvale
