#include "norvale/core/data/ServerDatabase.h"
#include "norvale/core/search/DomainSearch.h"
#include "norvale/core/search/KeywordList.h"
#include "norvale/core/search/SearchRules.h"
#include "norvale/core/work/WorkerPools.h"
#include "tests/support/LoopbackSocket.h"
#include "tests/support/SearchWorld.h"
#include "tests/support/ServicesFixture.h"
#include "tests/support/RecordingPlatform.h"
#include "tests/support/TestSql.h"
#include "tests/support/TestHttpServer.h"
#include "tests/support/TestRegistries.h"
#include "tests/support/Started.h"

#include <QScopeGuard>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <chrono>
#include <future>

#include <memory>


using namespace norvale;
using namespace std::chrono_literals;

namespace {

struct Event {
    quint64 generation = 0;
    QString text;
};

QString describe(const SearchRow &row)
{
    QString red;
    for (int c = 0; c < column::Count; ++c)
        red += row.isRed(c) ? QString::number(c) : QString();
    return QStringLiteral("row %1 [%2] red:%3").arg(row.row).arg(row.cells.join(u'|'), red);
}

// An engine and everything it reports, in arrival order.
class Search final : public QObject {
public:
    Search(const SearchBackend &backend, std::shared_ptr<SearchBoxes> boxes) : engine(backend, std::move(boxes))
    {
        connect(&engine, &DomainSearch::searchReset, this, [this](quint64 g) { add(g, QStringLiteral("reset")); });
        connect(&engine, &DomainSearch::progressStep, this, [this](quint64 g, int done, int total, int percent) {
            add(g, QStringLiteral("step %1/%2 %3%").arg(done).arg(total).arg(percent));
        });
        connect(&engine, &DomainSearch::rowReady, this, [this](quint64 g, const SearchRow &row) {
            rows[g].append(row);
            add(g, describe(row));
        });
        connect(&engine, &DomainSearch::finished, this, [this](quint64 g) { add(g, QStringLiteral("end")); });
    }

    // Starts a search and waits for its end, whose generation is then in
    // last; false when it did not end in time, so the caller can stop there.
    [[nodiscard]] bool run(const QString &text)
    {
        last = engine.start(text);
        return QTest::qWaitFor([&] { return ended(last); }, 60000);
    }
    QStringList texts(quint64 generation) const
    {
        QStringList out;
        for (const Event &e : events) {
            if (e.generation == generation)
                out << e.text;
        }
        return out;
    }
    QStringList domains(quint64 generation) const
    {
        QStringList out;
        for (const SearchRow &row : rows.value(generation))
            out << row.cells.value(column::Domain);
        return out;
    }
    bool ended(quint64 generation) const { return texts(generation).contains(QStringLiteral("end")); }

    DomainSearch engine;
    quint64 last = 0;  // the generation run() started
    QList<Event> events;
    QHash<quint64, QList<SearchRow>> rows;
    std::function<void(const Event &)> onEvent;

private:
    void add(quint64 generation, const QString &text)
    {
        events.append({generation, text});
        if (onEvent)
            onEvent(events.last());
    }
};

// Every kind ticked ("全部") with the related search on, or only one kind (none for -1).
std::shared_ptr<SearchBoxes> boxes(bool related, int onlyKind = -2)
{
    auto ticked = std::make_shared<SearchBoxes>();
    ticked->setShowRelated(related);
    if (onlyKind > -2)
        ticked->setAll(false);
    if (onlyKind >= 0)
        ticked->setKind(onlyKind, true);
    return ticked;
}


} // namespace

class DomainSearchTest final : public QObject {
    Q_OBJECT

    SearchBackend backend(const QString &statusBase = {})
    {
        return m_world.searches(statusBase.isEmpty() ? m_statusBase : statusBase);
    }

    test::ServicesFixture m_world;
    QString m_statusBase;

private slots:
    void initTestCase()
    {
        if (!m_world.start() || !m_world.resolverReady())
            return;
        m_statusBase = m_world.services.baseUrl() + QStringLiteral("/query/domain.asp?domain=");
        QVERIFY(test::seedSearchWorld(m_world));
    }

    // Everything but the pure rules needs the test resolver.
    void init()
    {
        if (!m_world.resolverReady()
            && !QByteArrayList{"cleanKeyword", "keywordLines", "progressPercent", "checkdomainTable"}.contains(QTest::currentTestFunction()))
            QSKIP(qPrintable(m_world.reason()));
    }

    void cleanKeyword_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("keyword");
        QTest::newRow("spaces and dots") << "  example.def.com " << "example";
        QTest::newRow("inner space") << "my site.com" << "mysite";
        QTest::newRow("leading dot") << ".com" << "";
        QTest::newRow("only spaces") << "   " << "";
        QTest::newRow("quote kept") << "it's" << "it's";
        QTest::newRow("ideographic space") << "exa\u3000mple" << "example";
    }

    void cleanKeyword()
    {
        QFETCH(QString, typed);
        QFETCH(QString, keyword);
        QCOMPARE(norvale::cleanKeyword(typed), keyword);
    }

    void keywordLines_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("keywords");  // joined by "|"
        QTest::newRow("every kind of line end") << "a\r\nb\rc\nd\u2028e\u2029f" << "a|b|c|d|e|f";
        QTest::newRow("blank lines and ends") << "\n\n a.com \t\n\n\u3000\nb\n" << "a|b";
        QTest::newRow("repeats in any case") << "Shop\nshop.net\nSHOP\nshops" << "Shop|shops";
        QTest::newRow("one line") << "only" << "only";
        QTest::newRow("nothing") << "\r\n.com\n" << "";
    }

    void keywordLines()
    {
        QFETCH(QString, text);
        QFETCH(QString, keywords);
        QCOMPARE(norvale::keywordLines(text).join(u'|'), keywords);
    }

    void progressPercent_data()
    {
        QTest::addColumn<int>("done");
        QTest::addColumn<int>("total");
        QTest::addColumn<int>("percent");
        QTest::newRow("half goes down to even") << 2 << 16 << 12;   // 12.5
        QTest::newRow("above half") << 3 << 16 << 19;               // 18.75
        QTest::newRow("half goes up to even") << 6 << 16 << 38;     // 37.5
        QTest::newRow("no scale") << 1 << 0 << 0;
    }

    void progressPercent()
    {
        QFETCH(int, done);
        QFETCH(int, total);
        QFETCH(int, percent);
        QCOMPARE(norvale::progressPercent(done, total), percent);
    }

    void checkdomainTable_data()
    {
        QTest::addColumn<QString>("domain");
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("wildip");
        QTest::addColumn<bool>("responded");
        QTest::addColumn<QString>("page");
        QTest::addColumn<bool>("fetched");
        QTest::addColumn<QString>("status");
        QTest::addColumn<bool>("unregistered");  // status in red, price shown
        QTest::addColumn<QString>("addressCell");

        const char *marked = "<p>|domain|example.com|domain|</p>";
        const char *plain = "<p>尚未被注册</p>";
        const char *d = "example.com";
        QTest::newRow("real address") << d << "1.2.3.4" << "5.6.7.8" << true << plain << false << "已注册" << false << "1.2.3.4";
        QTest::newRow("wildcard address, marker") << d << "5.6.7.8" << "5.6.7.8" << true << marked << true << "已注册" << false << "";
        QTest::newRow("wildcard address, no marker") << d << "5.6.7.8" << "5.6.7.8" << true << plain << true << "未注册" << true << "";
        QTest::newRow("no address, empty wildip") << d << "" << "" << true << plain << true << "未注册" << true << "";
        QTest::newRow(".tk same /24") << "example.tk" << "5.6.7.99" << "5.6.7.8" << true << plain << true << "未注册" << true << "";
        QTest::newRow("same /24 outside .tk") << d << "5.6.7.99" << "5.6.7.8" << true << plain << false << "已注册" << false << "5.6.7.99";
        QTest::newRow("literal substring") << d << "7.81.2.3" << "5.6.7.81.2.3.4" << true << plain << true << "未注册" << true << "";
        QTest::newRow("two dots, asked too") << "example.com.cn" << "" << "" << true << marked << true << "已注册" << false << "";
        QTest::newRow("no HTTP response") << d << "" << "" << false << "" << true << "查询失败" << false << "";
        QTest::newRow("server error") << d << "" << "" << true << "<p>503</p>" << true << "查询失败" << false << "";
        QTest::newRow("marker is case-sensitive") << d << "" << "" << true << "|DOMAIN|" << true << "未注册" << true << "";
        // No host can carry these: never fetched, never offered.
        QTest::newRow("quote in the name") << "o'reilly.com" << "" << "" << true << plain << false << "无效域名" << false << "";
        QTest::newRow("underscore") << "a_b.com" << "5.6.7.8" << "" << true << plain << false << "无效域名" << false << "";
        QTest::newRow("hyphen at the end") << "example-.com" << "" << "" << true << plain << false << "无效域名" << false << "";
        QTest::newRow("label over 63") << QString(QString(64, u'a') + QStringLiteral(".com")) << "" << "" << true << plain << false << "无效域名" << false << "";
        QTest::newRow("international name") << "中文.com" << "" << "" << true << plain << true << "未注册" << true << "";
    }

    void checkdomainTable()
    {
        QFETCH(QString, domain);
        QFETCH(QString, address);
        QFETCH(QString, wildip);
        QFETCH(bool, responded);
        QFETCH(QString, page);
        QFETCH(bool, fetched);
        QFETCH(QString, status);
        QFETCH(bool, unregistered);
        QFETCH(QString, addressCell);

        const QString kind = domain.mid(domain.lastIndexOf(u'.'));
        QCOMPARE(wantsStatusPage(domain, kind, address, wildip), fetched);
        PageText answer;
        answer.transportOk = responded;
        answer.httpStatus = !responded ? 0 : page.contains(QLatin1StringView("503")) ? 503 : 200;
        answer.text = page;
        const CheckCells cells = checkdomain(domain, kind, address, wildip, answer);
        QCOMPARE(cells.status, status);
        QCOMPARE(cells.statusRed, unregistered);
        QCOMPARE(cells.showsPrice, unregistered);
        QCOMPARE(cells.address, addressCell);
    }

    void shortSearches_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("onlyKind");     // -1: no box, -2: all
        QTest::addColumn<bool>("searched");    // false: nothing but the end
        QTest::addColumn<QString>("row");
        QTest::newRow("one .com box") << "  example.def.com " << 0 << true
                                      << "row 1 [example.com|||example.com|已注册||京ICP备123号|93.184.216.34] red:6";
        QTest::newRow("no box") << "example" << -1 << true << "";
        QTest::newRow("empty keyword") << " .com" << -2 << false << "";
    }

    void shortSearches()
    {
        QFETCH(QString, typed);
        QFETCH(int, onlyKind);
        QFETCH(bool, searched);
        QFETCH(QString, row);
        Search search(backend(), boxes(false, onlyKind));
        const QString reference = wildcardReferenceNames().last();
        const qsizetype asked = m_world.dns().queriedNames().count(reference);
        QVERIFY(search.run(typed));
        const quint64 g = search.last;

        QStringList expected;
        if (searched) {
            expected << QStringLiteral("reset") << QStringLiteral("step 1/16 6%");
            if (!row.isEmpty())
                expected << row;
            for (int done = 2; done <= 17; ++done) {
                const int shown = qMin(done, 16);
                expected << QStringLiteral("step %1/16 %2%").arg(shown).arg(norvale::progressPercent(shown, 16));
            }
        }
        QCOMPARE(search.texts(g), expected << QStringLiteral("end"));
        QVERIFY(m_world.dns().queriedNames().count(reference) > asked);  // the wildcard reference is always made
    }

    void relatedDomainsAfterPhaseOneInEveryParallelism()
    {
        Search search(backend(), boxes(true));
        QVERIFY(search.run(QStringLiteral("example")));
        const quint64 g = search.last;
        const QStringList texts = search.texts(g);
        const qsizetype endOfPhaseOne = texts.indexOf(QStringLiteral("step 17/32 53%"));
        QVERIFY(endOfPhaseOne > 0);
        QVERIFY(texts.at(endOfPhaseOne + 1).startsWith(QStringLiteral("row 19 [example.top")));
        QVERIFY(texts.contains(QStringLiteral("step 32/32 100%")));
        QStringList described;
        for (const SearchRow &row : search.rows.value(g))
            described << describe(row);
        QCOMPARE(search.domains(g).mid(0, 19), test::phaseOneDomains(QStringLiteral("example")));
        const char *const phaseOne[] = {
            "row 2 [example.net|||example.net|已注册|||] red:",         // no address, the status page knows it
            "row 6 [example.biz|||example.biz|未注册|14||] red:4",      // no address, unconfirmed: red, priced
            "row 3 [example.org|||example.org|已注册||浙ICP备9号|] red:6", // filed: known, number in red
            "row 11 [example.de|||example.de|已注册||-|10.0.0.6] red:", // a one-character number is not red
            "row 9 [example.co.uk|||example.co.uk|未注册|16||] red:4",  // two dots: asked, the page does not know it
            "row 16 [example.tk|||example.tk|未注册|13||] red:4",       // in the wildcard's /24: judged by the page
        };
        for (const char *row : phaseOne)
            QVERIFY2(texts.contains(QString::fromUtf8(row)), row);
        QCOMPARE(described.mid(19),
                 QStringList({QStringLiteral("row 20 [myexample.com|||myexample.com|已注册||沪ICP备1号|] red:6"),
                              // red even when empty
                              QStringLiteral("row 21 [exampleshop.cn|||exampleshop.cn|已注册|||10.0.0.7] red:6"),
                              // two dots: asked like any other name, and filed, so known
                              QStringLiteral("row 22 [examplebiz.com.cn|||examplebiz.com.cn|已注册||粤ICP备2号|] red:6")}));

        // One candidate at a time gives the very same report.
        search.engine.setParallelism(1);
        QVERIFY(search.run(QStringLiteral("example")));
        QCOMPARE(search.texts(search.last), texts);

        // So does taking what the workers post a few milliseconds at a time,
        // as the window does.
        search.engine.setParallelism(DomainSearch::defaultParallelism);
        search.engine.setTakeInterval(8);
        QVERIFY(search.run(QStringLiteral("example")));
        QCOMPARE(search.texts(search.last), texts);
    }

    void keywordList()
    {
        // Blank lines and a repeat in another case are no searches; each
        // keyword's rows follow the one before, under one reset and one end.
        Search search(backend(), boxes(false, 0));
        QVERIFY(search.run(QStringLiteral("example\r\n\n  myexample.net \nEXAMPLE")));
        const quint64 g = search.last;
        QStringList expected{QStringLiteral("reset")};
        for (int k = 0; k < 2; ++k) {
            for (int box = 0; box < kindCount; ++box) {
                const int done = k * 16 + std::min(box + 1, 16);
                expected << QStringLiteral("step %1/32 %2%").arg(done).arg(norvale::progressPercent(done, 32));
                if (box == 0 && k == 0)
                    expected << QStringLiteral("row 1 [example.com|||example.com|已注册||京ICP备123号|93.184.216.34] red:6");
                if (box == 0 && k == 1)
                    expected << QStringLiteral("row 2 [myexample.com|||myexample.com|已注册||沪ICP备1号|] red:6");
            }
        }
        QCOMPARE(search.texts(g), expected << QStringLiteral("end"));

        // 停止 ends the list: no later keyword is searched.
        search.engine.setParallelism(1);
        search.onEvent = [&](const Event &e) {
            if (e.text.startsWith(QStringLiteral("row 1 ")))
                search.engine.stop();
        };
        QVERIFY(search.run(QStringLiteral("example\nmyexample\nexampleshop")));
        const quint64 stopped = search.last;
        QCOMPARE(search.domains(stopped), QStringList{QStringLiteral("example.com")});
        QCOMPARE(search.texts(stopped).last(), QStringLiteral("end"));
    }

    // Against services that ask registries: the registry decides what the
    // operator's tables do not, for names under second-level zones too, and
    // a registry that cannot be reached is "查询失败", never free.
    void registriesDecide()
    {
        using Protocol = test::TestRegistries::Protocol;
        test::TestRegistries registries;
        registries.addZone(QStringLiteral("cn"), Protocol::Whois);
        registries.addZone(QStringLiteral("com.cn"), Protocol::Whois, {}, QStringLiteral("cn"));
        registries.addZone(QStringLiteral("top"), Protocol::Down);
        registries.setAnswer(QStringLiteral("regheld.cn"), test::RegistryAnswer::ClientHold);
        VERIFY_STARTED(registries);
        test::ServicesProcess::Options options;
        options.extraArguments = registries.servicesArguments();
        test::ServicesProcess asking(options);
        VERIFY_STARTED(asking);

        auto ticked = std::make_shared<SearchBoxes>();
        ticked->setAll(false);
        for (const char *kind : {".cn", ".other"})
            ticked->setKind(int(std::find(extensionKinds().cbegin(), extensionKinds().cend(), QLatin1StringView(kind))
                                - extensionKinds().cbegin()),
                            true);
        Search search(backend(asking.baseUrl() + QStringLiteral("/query/domain.asp?domain=")), ticked);
        QStringList verdicts;
        QVERIFY(search.run(QStringLiteral("regheld")));
        for (const SearchRow &row : search.rows.value(search.last))
            verdicts << row.cells[column::Domain] + u' ' + row.cells[column::Status] + u' ' + row.cells[column::Price];
        QCOMPARE(verdicts, QStringList({QStringLiteral("regheld.cn 已注册 "), QStringLiteral("regheld.com.cn 未注册 17"),
                                        QStringLiteral("regheld.top 查询失败 ")}));
        QCOMPARE(registries.queries(QStringLiteral("cn")), 2);
    }

    // Beyond the reference names: a zone's own wildcard and the reserved
    // answers send a candidate to the status page instead of "已注册".
    void sharperVerdicts_data()
    {
        QTest::addColumn<bool>("answersAll");   // a resolver that answers every unknown name
        QTest::addColumn<QString>("domain");
        QTest::addColumn<QString>("record");    // the name's own address
        QTest::addColumn<bool>("registered");   // the status page knows it
        QTest::addColumn<QString>("verdict");   // status|address, with the additions
        QTest::addColumn<QString>("partVerdict");  // the reference names alone
        QTest::newRow("wildcard zone, free name") << false << "freews.ws" << "" << false
                                                  << "未注册|" << "已注册|203.0.113.80";
        QTest::newRow("wildcard zone, a host of its own") << false << "ownws.ws" << "198.18.0.5" << true
                                                          << "已注册|198.18.0.5" << "已注册|198.18.0.5";
        QTest::newRow("wildcard zone, registered and parked on it") << false << "parkedws.ws" << "" << true
                                                                     << "已注册|" << "已注册|203.0.113.80";
        QTest::newRow("wildcard zone, two levels, free") << false << "deepws.com.ws" << "" << false
                                                        << "未注册|" << "已注册|203.0.113.80";
        QTest::newRow("wildcard zone, two levels, registered") << false << "takenws.com.ws" << "" << true
                                                              << "已注册|" << "已注册|203.0.113.80";
        QTest::newRow("name-collision signal") << false << "collide.top" << "127.0.53.53" << false
                                               << "未注册|" << "已注册|127.0.53.53";
        QTest::newRow("blocked name, registered") << false << "blocked.top" << "0.0.0.0" << true
                                                  << "已注册|" << "已注册|0.0.0.0";
        QTest::newRow("resolver answers all, free name") << true << "nothing.top" << "" << false
                                                         << "未注册|" << "未注册|";
        QTest::newRow("resolver answers all, a host of its own") << true << "ownall.top" << "198.18.0.9" << false
                                                                 << "已注册|198.18.0.9" << "已注册|198.18.0.9";
    }

    void sharperVerdicts()
    {
        QFETCH(bool, answersAll);
        QFETCH(QString, domain);
        QFETCH(QString, record);
        QFETCH(bool, registered);
        QFETCH(QString, verdict);
        QFETCH(QString, partVerdict);

        test::TestDnsServer &dns = m_world.dns();
        dns.addWildcard(QStringLiteral(".ws"), QStringLiteral("203.0.113.80"));
        if (answersAll)
            dns.addWildcard(QString(), QStringLiteral("198.51.100.7"));
        if (!record.isEmpty())
            dns.addRecord(domain, {record});
        // .top is in the price table already; the others join it for this row.
        const QString extension = candidateZone(domain);
        const bool priced = extension != QLatin1StringView(".top");
        if (priced)
            QVERIFY(m_world.services.execSql(QStringLiteral("insert into ldomainprice values ('.other', '%1', '9')").arg(extension)));
        if (registered)
            QVERIFY(m_world.services.execSql(QStringLiteral("insert into svc_registered values ('%1')").arg(domain)));
        const auto restore = qScopeGuard([&] {
            dns.removeWildcard(QString());
            dns.removeWildcard(QStringLiteral(".ws"));
            if (priced)
                m_world.services.execSql(QStringLiteral("delete from ldomainprice where lextend = '%1'").arg(extension));
            m_world.services.execSql(QStringLiteral("delete from svc_registered where ldomain = '%1'").arg(domain));
        });

        const QString keyword = domain.section(u'.', 0, 0);
        for (const bool sharper : {true, false}) {
            Search search(backend(), boxes(false, 16));  // .other
            search.engine.setSharperVerdicts(sharper);
            QVERIFY(search.run(keyword));
            const QList<SearchRow> rows = search.rows.value(search.last);
            const auto row = std::find_if(rows.cbegin(), rows.cend(),
                                          [&](const SearchRow &r) { return r.cells[column::Domain] == domain; });
            QVERIFY(row != rows.cend());
            QCOMPARE(row->cells[column::Status] + u'|' + row->cells[column::Address], sharper ? verdict : partVerdict);
            QCOMPARE(row->isRed(column::Status), row->cells[column::Status] == QStringLiteral("未注册"));
        }
    }

    void keywordIsLiteral_data()
    {
        QTest::addColumn<QString>("keyword");
        QTest::addColumn<QStringList>("related");
        QTest::newRow("single quote") << "ex'ample" << QStringList();
        QTest::newRow("percent") << "%" << QStringList{QStringLiteral("50%off.net")};
        QTest::newRow("underscore") << "exampl_" << QStringList();
        QTest::newRow("backslash") << "ex\\" << QStringList();
        // Names compare as SQL Server's usual collation does: not the keyword itself.
        QTest::newRow("capitals") << "Example"
                                  << QStringList{QStringLiteral("myexample.com"), QStringLiteral("exampleshop.cn"),
                                                 QStringLiteral("examplebiz.com.cn")};
    }

    void keywordIsLiteral()
    {
        QFETCH(QString, keyword);
        QFETCH(QStringList, related);
        Search search(backend(), boxes(true));
        QVERIFY(search.run(keyword));
        QCOMPARE(search.domains(search.last), test::phaseOneDomains(keyword) + related);
    }

    void rowLimit()
    {
        // With a limit of 2 ".uk" ends after its first row, and every later
        // kind still writes one row before its own check ends it.
        Search search(backend(), boxes(false));
        search.engine.setRowLimit(2);
        QStringList expected;
        for (int i = 0; i < test::SearchPriceRowCount; ++i) {
            if (i == 0 || qstrcmp(test::SearchPriceRows[i].first, test::SearchPriceRows[i - 1].first) != 0)
                expected << QStringLiteral("example") + QLatin1StringView(test::SearchPriceRows[i].second);
        }
        QVERIFY(search.run(QStringLiteral("example")));
        QCOMPARE(search.domains(search.last), expected);
    }

    void stopMidSearch()
    {
        Search search(backend(), boxes(true));
        search.engine.setParallelism(1);
        search.onEvent = [&](const Event &e) {
            if (e.text.startsWith(QStringLiteral("row 2 ")))
                search.engine.stop();
        };
        QVERIFY(search.run(QStringLiteral("example")));
        const quint64 g = search.last;
        QVERIFY(!search.engine.isRunning());
        const QStringList texts = search.texts(g);
        QVERIFY(texts.size() >= 2);
        QVERIFY(texts.at(texts.size() - 2).startsWith(QStringLiteral("row 2 ")));
        QCOMPARE(texts.last(), QStringLiteral("end"));

        // Whatever the workers still had in hand never shows up.
        search.onEvent = {};
        QVERIFY(search.run(QStringLiteral("example")));
        const quint64 next = search.last;
        QCOMPARE(search.texts(g), texts);
        QCOMPARE(search.events.last().generation, next);
    }

    void secondSearchSupersedes()
    {
        Search search(backend(), boxes(true));
        quint64 second = 0;
        search.onEvent = [&](const Event &e) {
            if (second == 0 && e.text.startsWith(QStringLiteral("row 1 ")))
                second = search.engine.start(QStringLiteral("myexample"));
        };
        const quint64 first = search.engine.start(QStringLiteral("example"));
        QTRY_VERIFY_WITH_TIMEOUT(second != 0 && search.ended(second), 60000);
        QVERIFY(!search.ended(first));
        const auto startOfSecond = std::find_if(search.events.cbegin(), search.events.cend(),
                                                [&](const Event &e) { return e.generation == second; });
        QVERIFY(std::all_of(startOfSecond, search.events.cend(), [&](const Event &e) { return e.generation == second; }));
        QCOMPARE(search.texts(second).first(), QStringLiteral("reset"));
        QCOMPARE(search.domains(second), test::phaseOneDomains(QStringLiteral("myexample")));
    }

    void boxReadWhenReached_data()
    {
        QTest::addColumn<int>("parallelism");
        QTest::newRow("serial") << 1;
        QTest::newRow("parallel") << 0;
    }

    void boxReadWhenReached()
    {
        // The search is held at its wildcard reference, past the point where
        // a parallel search asks ahead for the ticked kinds, while the user
        // changes the boxes: .com was ticked when it began, .cn when it got there.
        auto ticked = boxes(false, 0);
        auto reached = std::make_shared<std::promise<void>>();
        std::promise<void> changed;
        std::shared_future<void> boxesChanged = changed.get_future().share();
        SearchBackend parts = backend();
        parts.resolve = [resolve = parts.resolve, reached, boxesChanged](
                            const QStringList &domains, const StopFlag *stop, const SearchBackend::Answered &answered) {
            for (const QString &domain : domains) {
                if (wildcardReferenceNames().contains(domain)) {
                    if (domain == wildcardReferenceNames().first())
                        reached->set_value();
                    boxesChanged.wait();
                }
            }
            resolve(domains, stop, answered);
        };
        Search search(parts, ticked);
        QFETCH(int, parallelism);
        if (parallelism > 0)
            search.engine.setParallelism(parallelism);
        const quint64 g = search.engine.start(QStringLiteral("example"));
        reached->get_future().wait();
        ticked->setKind(0, false);
        ticked->setKind(15, true);
        changed.set_value();
        QTRY_VERIFY_WITH_TIMEOUT(search.ended(g), 60000);
        QCOMPARE(search.domains(g), QStringList({QStringLiteral("example.cn"), QStringLiteral("example.com.cn")}));
    }

    void statusServiceDown()
    {
        const int closed = test::freeLoopbackPort();  // refuses every connection: no HTTP response at all
        Search search(backend(QStringLiteral("http://127.0.0.1:%1/query/domain.asp?domain=").arg(closed)),
                      boxes(false, 2));  // .org
        QVERIFY(search.run(QStringLiteral("example")));
        const quint64 g = search.last;
        QCOMPARE(search.rows.value(g).size(), 1);
        QCOMPARE(describe(search.rows.value(g).first()),
                 QStringLiteral("row 1 [example.org|||example.org|查询失败||浙ICP备9号|] red:6"));
    }

    void stopEndsTheFetches()
    {
        // A status page that sends a byte now and then and never ends.
        std::atomic<int> open{0};  // outlives the server's handlers
        test::TestHttpServer dribbling(64);
        dribbling.get(".*", [&](const httplib::Request &, httplib::Response &res) {
            ++open;
            res.set_chunked_content_provider("text/html", [&](size_t, httplib::DataSink &sink) {
                if (!dribbling.holdUntilStopped(100ms) && sink.write("x", 1))
                    return true;
                --open;
                return false;
            });
        });
        QVERIFY(dribbling.start());
        Search search(backend(dribbling.url(QStringLiteral("/query/domain.asp?domain="))), boxes(true));
        search.engine.start(QStringLiteral("example"));
        QTRY_VERIFY_WITH_TIMEOUT(open >= 8, 30000);

        // Stopped, the search lets go of every transfer at once, so the
        // next search finds the fetch workers free.
        search.engine.stop();
        QTRY_COMPARE_WITH_TIMEOUT(open.load(), 0, 2000);
        Search next(backend(), boxes(false));
        QVERIFY(next.run(QStringLiteral("example")));
        QCOMPARE(next.domains(next.last), test::phaseOneDomains(QStringLiteral("example")));
    }

    // A stopped search lets go of its name lookups too: with a name server
    // that has stopped answering, each would otherwise hold its worker until
    // its deadline, and the next search would wait for them.
    void stopEndsTheLookups()
    {
        test::TestDnsServer &dns = m_world.dns();
        const auto answerAgain = qScopeGuard([&dns] { dns.setDelay(0ms); });
        auto inFlight = std::make_shared<std::atomic<int>>(0);
        SearchBackend parts = backend();
        parts.resolve = [resolve = parts.resolve, inFlight, &dns](
                            const QStringList &domains, const StopFlag *stop, const SearchBackend::Answered &answered) {
            // The wildcard reference is answered; then the server goes quiet.
            if (!wildcardReferenceNames().contains(domains.first()))
                dns.setDelay(10s);
            *inFlight += int(domains.size());
            resolve(domains, stop, answered);
            *inFlight -= int(domains.size());
        };
        Search search(parts, boxes(true));
        search.engine.start(QStringLiteral("example"));
        QTRY_VERIFY_WITH_TIMEOUT(*inFlight >= 8, 30000);

        search.engine.stop();
        QTRY_COMPARE_WITH_TIMEOUT(inFlight->load(), 0, 1000);
    }

    // Status fetches reuse their connections across fetches and searches:
    // the status page never sees more connections than fetches run at once.
    void statusFetchesKeepTheirConnections()
    {
        const QString path = QStringLiteral("/query/domain.asp");
        const int connectionsBefore = m_world.services.connectionCount(path);
        const int fetchesBefore = m_world.services.requestCount(path);
        for (int i = 0; i < 4; ++i) {
            Search search(backend(), boxes(true));
            QVERIFY(search.run(QStringLiteral("example")));
        }
        const int connections = m_world.services.connectionCount(path) - connectionsBefore;
        const int fetches = m_world.services.requestCount(path) - fetchesBefore;
        QVERIFY2(fetches > workpools::fetches().maxThreadCount(), qPrintable(QString::number(fetches)));
        // Connections earlier searches left open may serve them all.
        QVERIFY2(connections <= workpools::fetches().maxThreadCount(),
                 qPrintable(QString::number(connections)));
    }

    void databaseGoesAway()
    {
        // A copy of the database loses its tables while the search checks
        // example.org, one candidate at a time.
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("copy.db"));
        QVERIFY(QFile::copy(m_world.services.databasePath(), file));
        const QString text = QStringLiteral("Provider=SQLite;Data Source=") + file;

        SearchBackend parts = backend();
        parts.resolve = [resolve = parts.resolve, file](const QStringList &domains, const StopFlag *stop,
                                                        const SearchBackend::Answered &answered) {
            if (domains.contains(QLatin1StringView("example.org"))) {
                test::fillDatabase(file, [](QSqlDatabase &db) {
                    return test::execSql(db, QStringLiteral("alter table ldomainlist rename to gone_list"))
                           && test::execSql(db, QStringLiteral("alter table ldomainprice rename to gone_price"));
                });
            }
            resolve(domains, stop, answered);
        };
        parts.queryRows = [text](const QString &sql, const QVariantList &params, const QStringList &columns) {
            return queryRowsOn(text, sql, params, columns);
        };
        parts.queryFirst = [text](const QString &sql, const QVariantList &params) {
            const QueryResult answer = queryFirstOn(text, sql, params);
            return SearchValue{answer.ok, answer.ok ? answer.firstvalue : QString()};
        };

        Search search(parts, boxes(true));
        search.engine.setParallelism(1);
        QVERIFY(search.run(QStringLiteral("example")));
        const QList<SearchRow> rows = search.rows.value(search.last);
        QCOMPARE(rows.size(), 3);  // .com, .net, .org; later kinds find no table
        QCOMPARE(rows[0].cells[column::Filing], QStringLiteral("京ICP备123号"));
        // Its number is in the lost table: the cell stays empty rather than repeating an earlier one.
        QCOMPARE(rows[2].cells[column::Filing], QString());
        QCOMPARE(rows[2].cells[column::Status], QStringLiteral("已注册"));
    }

    void engineDestroyedMidSearch()
    {
        auto engine = std::make_unique<DomainSearch>(backend(), boxes(true));
        QSignalSpy rows(engine.get(), &DomainSearch::rowReady);
        engine->start(QStringLiteral("example"));
        QVERIFY(rows.wait(60000));
        engine.reset();

        // The workers finish on their own; a new engine searches undisturbed.
        Search next(backend(), boxes(true));
        QVERIFY(next.run(QStringLiteral("example")));
        QCOMPARE(next.rows.value(next.last).size(), test::SearchPriceRowCount + 3);
    }
};

QTEST_GUILESS_MAIN(DomainSearchTest)
#include "DomainSearchTest.moc"
