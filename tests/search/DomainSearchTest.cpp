#include "norvale/data/ServerDatabase.h"
#include "norvale/main/search/DomainSearch.h"
#include "norvale/main/search/SearchRules.h"

#include "tests/support/RecordingPlatform.h"
#include "tests/support/ServicesProcess.h"
#include "tests/support/TestResolver.h"

#include <QScopeGuard>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace norvale;
using norvale::test::ServicesProcess;
using norvale::test::TestResolver;

namespace {

// One thing the engine reported, as a comparable line.
struct Event {
    quint64 generation = 0;
    QString text;
};

// Everything one engine reports, in arrival order.
class Recorder final : public QObject {
public:
    explicit Recorder(DomainSearch &engine)
    {
        connect(&engine, &DomainSearch::searchReset, this,
                [this](quint64 g) { add(g, QStringLiteral("reset")); });
        connect(&engine, &DomainSearch::progressStep, this,
                [this](quint64 g, int done, int total, int percent) {
                    add(g, QStringLiteral("step %1/%2 %3%").arg(done).arg(total).arg(percent));
                });
        connect(&engine, &DomainSearch::rowReady, this, [this](quint64 g, const SearchRow &row) {
            rows[g].append(row);
            add(g, describe(row));
        });
        connect(&engine, &DomainSearch::finished, this,
                [this](quint64 g) { add(g, QStringLiteral("end")); });
    }

    static QString describe(const SearchRow &row)
    {
        QString red;
        for (int c = 0; c < column::Count; ++c) {
            if (row.isRed(c))
                red += QString::number(c);
        }
        return QStringLiteral("row %1 [%2] red:%3")
            .arg(row.row)
            .arg(row.cells.join(u'|'), red);
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

// The extensions of the price table, one kind after another in box order.
const QList<std::pair<QString, QString>> PriceRows = {
    {QStringLiteral(".com"), QStringLiteral(".com")},    {QStringLiteral(".net"), QStringLiteral(".net")},
    {QStringLiteral(".org"), QStringLiteral(".org")},    {QStringLiteral(".info"), QStringLiteral(".info")},
    {QStringLiteral(".name"), QStringLiteral(".name")},  {QStringLiteral(".biz"), QStringLiteral(".biz")},
    {QStringLiteral(".us"), QStringLiteral(".us")},      {QStringLiteral(".uk"), QStringLiteral(".uk")},
    {QStringLiteral(".uk"), QStringLiteral(".co.uk")},   {QStringLiteral(".eu"), QStringLiteral(".eu")},
    {QStringLiteral(".de"), QStringLiteral(".de")},      {QStringLiteral(".es"), QStringLiteral(".es")},
    {QStringLiteral(".in"), QStringLiteral(".in")},      {QStringLiteral(".co"), QStringLiteral(".co")},
    {QStringLiteral(".asia"), QStringLiteral(".asia")},  {QStringLiteral(".tk"), QStringLiteral(".tk")},
    {QStringLiteral(".cn"), QStringLiteral(".cn")},      {QStringLiteral(".cn"), QStringLiteral(".com.cn")},
    {QStringLiteral(".other"), QStringLiteral(".top")},
};

QString priceOf(const QString &extension)
{
    return QString::number(10 + extension.size());
}

QStringList phaseOneDomains(const QString &keyword)
{
    QStringList out;
    for (const auto &[kind, extension] : PriceRows)
        out << keyword + extension;
    return out;
}

bool exec(QSqlDatabase &db, const QString &statement, const QVariantList &values = {})
{
    QSqlQuery query(db);
    query.prepare(statement);
    for (const QVariant &value : values)
        query.addBindValue(value);
    if (!query.exec()) {
        qWarning() << statement << query.lastError().text();
        return false;
    }
    return true;
}

// A ServerDatabase kept alive with the platform it reports to, for as long
// as any worker still holds it.
struct DatabaseStack {
    explicit DatabaseStack(const QString &serviceUrl) : database(platform, serviceUrl) {}
    test::RecordingPlatform platform;
    ServerDatabase database;
};

} // namespace

class DomainSearchTest final : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();

    void cleanKeyword_data();
    void cleanKeyword();
    void progressPercent_data();
    void progressPercent();
    void checkdomainTable_data();
    void checkdomainTable();

    void oneComRow();
    void allKindsInBoxOrder();
    void noBoxTicked();
    void emptyKeyword();
    void relatedDomainsAfterPhaseOne();
    void keywordIsLiteral_data();
    void keywordIsLiteral();
    void rowLimit();
    void stopMidSearch();
    void secondSearchSupersedes();
    void serialAndParallelAgree();
    void statusServiceDown();
    void databaseGoesAway();
    void engineDestroyedMidSearch();

private:
    SearchBackend backend(const QString &statusBase = {});
    quint64 runToEnd(DomainSearch &engine, Recorder &recorder, const QString &text);

    TestResolver m_resolver;
    ServicesProcess m_services;
    std::shared_ptr<DatabaseStack> m_stack;
    QString m_statusBase;
    bool m_haveResolver = false;
};

#define REQUIRE_RESOLVER()                                                                         \
    do {                                                                                           \
        if (!m_haveResolver)                                                                       \
            QSKIP(qPrintable(m_resolver.reason()));                                                \
    } while (false)

void DomainSearchTest::initTestCase()
{
    m_haveResolver = m_resolver.start();
    QVERIFY2(!m_resolver.broken(), qPrintable(m_resolver.reason()));
    if (!m_haveResolver)
        return;

    QString error;
    QVERIFY2(m_services.start(&error), qPrintable(error));
    m_statusBase = m_services.baseUrl() + QStringLiteral("/query/domain.asp?domain=");

    test::TestDnsServer &dns = m_resolver.server();
    dns.addRecord(QStringLiteral("example.com"), {QStringLiteral("93.184.216.34")});
    dns.addRecord(QStringLiteral("example.info"), {QStringLiteral("10.0.0.5")});
    dns.addRecord(QStringLiteral("example.de"), {QStringLiteral("10.0.0.6")});
    dns.addRecord(QStringLiteral("exampleshop.cn"), {QStringLiteral("10.0.0.7")});
    // A registry that answers every .tk name; example.tk sits in the same /24.
    dns.addWildcard(QStringLiteral(".tk"), QStringLiteral("5.6.7.8"));
    dns.addRecord(QStringLiteral("example.tk"), {QStringLiteral("5.6.7.77")});

    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("seed"));
        db.setDatabaseName(m_services.databasePath());
        QVERIFY(db.open());
        QVERIFY(exec(db, QStringLiteral("delete from ldomainprice")));
        QVERIFY(exec(db, QStringLiteral("delete from ldomainlist")));
        QVERIFY(exec(db, QStringLiteral("delete from svc_registered")));
        for (const auto &[kind, extension] : PriceRows) {
            QVERIFY(exec(db, QStringLiteral("insert into ldomainprice values (?, ?, ?)"),
                         {kind, extension, priceOf(extension)}));
        }
        const QList<QStringList> listed = {
            {QStringLiteral("example"), QStringLiteral(".com"), QStringLiteral("example.com"), QStringLiteral("京ICP备123号")},
            {QStringLiteral("example"), QStringLiteral(".org"), QStringLiteral("example.org"), QStringLiteral("浙ICP备9号")},
            {QStringLiteral("example"), QStringLiteral(".de"), QStringLiteral("example.de"), QStringLiteral("-")},
            {QStringLiteral("myexample"), QStringLiteral(".com"), QStringLiteral("myexample.com"), QStringLiteral("沪ICP备1号")},
            {QStringLiteral("exampleshop"), QStringLiteral(".cn"), QStringLiteral("exampleshop.cn"), QStringLiteral("")},
            {QStringLiteral("examplebiz"), QStringLiteral(".com.cn"), QStringLiteral("examplebiz.com.cn"), QStringLiteral("粤ICP备2号")},
            {QStringLiteral("50%off"), QStringLiteral(".net"), QStringLiteral("50%off.net"), QStringLiteral("苏ICP备3号")},
        };
        for (const QStringList &row : listed) {
            QVERIFY(exec(db, QStringLiteral("insert into ldomainlist (lname, lextend, lallname, lbackweb) "
                                            "values (?, ?, ?, ?)"),
                         {row[0], row[1], row[2], row[3]}));
        }
        QVERIFY(exec(db, QStringLiteral("insert into svc_registered values ('example.net')")));
    }
    QSqlDatabase::removeDatabase(QStringLiteral("seed"));

    m_stack = std::make_shared<DatabaseStack>(m_services.dataServiceUrl());
}

SearchBackend DomainSearchTest::backend(const QString &statusBase)
{
    const QString base = statusBase.isEmpty() ? m_statusBase : statusBase;
    return makeServerBackend(std::shared_ptr<ServerDatabase>(m_stack, &m_stack->database),
                             [base] { return base; });
}

quint64 DomainSearchTest::runToEnd(DomainSearch &engine, Recorder &recorder, const QString &text)
{
    const quint64 generation = engine.start(text);
    [&] { QTRY_VERIFY_WITH_TIMEOUT(recorder.ended(generation), 60000); }();
    return generation;
}

void DomainSearchTest::cleanKeyword_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("keyword");
    QTest::newRow("spaces and dots") << QStringLiteral("  example.def.com ") << QStringLiteral("example");
    QTest::newRow("inner space") << QStringLiteral("my site.com") << QStringLiteral("mysite");
    QTest::newRow("leading dot") << QStringLiteral(".com") << QString();
    QTest::newRow("only spaces") << QStringLiteral("   ") << QString();
    QTest::newRow("quote kept") << QStringLiteral("it's") << QStringLiteral("it's");
}

void DomainSearchTest::cleanKeyword()
{
    QFETCH(QString, typed);
    QFETCH(QString, keyword);
    QCOMPARE(norvale::cleanKeyword(typed), keyword);
}

void DomainSearchTest::progressPercent_data()
{
    QTest::addColumn<int>("done");
    QTest::addColumn<int>("total");
    QTest::addColumn<int>("percent");
    QTest::newRow("first box of 16") << 1 << 16 << 6;
    QTest::newRow("end of phase 1 of 32") << 17 << 32 << 53;
    QTest::newRow("half goes down to even") << 2 << 16 << 12;   // 12.5
    QTest::newRow("half goes up to even") << 6 << 16 << 38;     // 37.5
    QTest::newRow("above half") << 3 << 16 << 19;               // 18.75
    QTest::newRow("all") << 16 << 16 << 100;
    QTest::newRow("no scale") << 1 << 0 << 0;
}

void DomainSearchTest::progressPercent()
{
    QFETCH(int, done);
    QFETCH(int, total);
    QFETCH(int, percent);
    QCOMPARE(norvale::progressPercent(done, total), percent);
}

void DomainSearchTest::checkdomainTable_data()
{
    QTest::addColumn<QString>("domain");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("wildip");
    QTest::addColumn<bool>("responded");
    QTest::addColumn<QString>("page");
    QTest::addColumn<bool>("fetched");
    QTest::addColumn<QString>("status");
    QTest::addColumn<bool>("red");
    QTest::addColumn<bool>("price");
    QTest::addColumn<QString>("addressCell");

    const QString marked = QStringLiteral("<p>|domain|example.com|domain|</p>");
    const QString plain = QStringLiteral("<p>尚未被注册</p>");
    const QString yes = QStringLiteral("已注册");
    const QString no = QStringLiteral("未注册");
    const QString com = QStringLiteral(".com");
    const QString d = QStringLiteral("example.com");

    QTest::newRow("real address") << d << com << QStringLiteral("1.2.3.4") << QStringLiteral("5.6.7.8")
                                  << true << plain << false << yes << false << false << QStringLiteral("1.2.3.4");
    QTest::newRow("wildcard address, marker") << d << com << QStringLiteral("5.6.7.8") << QStringLiteral("5.6.7.8")
                                              << true << marked << true << yes << false << false << QString();
    QTest::newRow("wildcard address, no marker") << d << com << QStringLiteral("5.6.7.8") << QStringLiteral("5.6.7.8")
                                                 << true << plain << true << no << true << true << QString();
    QTest::newRow("no address, empty wildip") << d << com << QString() << QString()
                                              << true << plain << true << no << true << true << QString();
    QTest::newRow("no address, marker") << d << com << QString() << QString()
                                        << true << marked << true << yes << false << false << QString();
    QTest::newRow(".tk same /24") << QStringLiteral("example.tk") << QStringLiteral(".tk") << QStringLiteral("5.6.7.99")
                                  << QStringLiteral("5.6.7.8") << true << plain << true << no << true << true << QString();
    QTest::newRow("same /24 outside .tk") << d << com << QStringLiteral("5.6.7.99") << QStringLiteral("5.6.7.8")
                                          << true << plain << false << yes << false << false << QStringLiteral("5.6.7.99");
    QTest::newRow("literal substring") << d << com << QStringLiteral("7.81.2.3") << QStringLiteral("5.6.7.81.2.3.4")
                                       << true << plain << true << no << true << true << QString();
    QTest::newRow("two dots, no fetch") << QStringLiteral("example.com.cn") << QStringLiteral(".cn") << QString()
                                        << QString() << true << marked << false << no << true << true << QString();
    QTest::newRow("no HTTP response") << d << com << QString() << QString()
                                      << false << QString() << true << QStringLiteral("查询失败") << false << false << QString();
    QTest::newRow("error page without marker") << d << com << QString() << QString()
                                               << true << QStringLiteral("<h1>500 Internal Server Error</h1>")
                                               << true << no << true << true << QString();
    QTest::newRow("error page with marker") << d << com << QString() << QString()
                                            << true << QStringLiteral("404 |domain|") << true << yes << false << false << QString();
    QTest::newRow("marker is case-sensitive") << d << com << QString() << QString()
                                              << true << QStringLiteral("|DOMAIN|") << true << no << true << true << QString();
}

void DomainSearchTest::checkdomainTable()
{
    QFETCH(QString, domain);
    QFETCH(QString, kind);
    QFETCH(QString, address);
    QFETCH(QString, wildip);
    QFETCH(bool, responded);
    QFETCH(QString, page);
    QFETCH(bool, fetched);
    QFETCH(QString, status);
    QFETCH(bool, red);
    QFETCH(bool, price);
    QFETCH(QString, addressCell);

    QCOMPARE(wantsStatusPage(domain, kind, address, wildip), fetched);
    PageText answer;
    answer.transportOk = responded;
    answer.httpStatus = responded ? 200 : 0;
    answer.text = page;
    const CheckCells cells = checkdomain(domain, kind, address, wildip, answer);
    QCOMPARE(cells.status, status);
    QCOMPARE(cells.statusRed, red);
    QCOMPARE(cells.showsPrice, price);
    QCOMPARE(cells.address, addressCell);
}

void DomainSearchTest::oneComRow()
{
    REQUIRE_RESOLVER();
    auto boxes = std::make_shared<SearchBoxes>();
    boxes->setAll(false);
    boxes->setKind(0, true);
    DomainSearch engine(backend(), boxes);
    Recorder recorder(engine);
    const quint64 g = runToEnd(engine, recorder, QStringLiteral("  example.def.com "));

    QStringList expected{QStringLiteral("reset"), QStringLiteral("step 1/16 6%"),
                         QStringLiteral("row 1 [example.com|||example.com|已注册||京ICP备123号|93.184.216.34] red:6")};
    for (int done = 2; done <= 17; ++done) {
        const int shown = qMin(done, 16);
        expected << QStringLiteral("step %1/16 %2%").arg(shown).arg(norvale::progressPercent(shown, 16));
    }
    expected << QStringLiteral("end");
    QCOMPARE(recorder.texts(g), expected);
}

void DomainSearchTest::allKindsInBoxOrder()
{
    REQUIRE_RESOLVER();
    DomainSearch engine(backend(), std::make_shared<SearchBoxes>());  // "全部" ticked
    Recorder recorder(engine);
    const quint64 g = runToEnd(engine, recorder, QStringLiteral("example"));

    QCOMPARE(recorder.domains(g), phaseOneDomains(QStringLiteral("example")));
    const QList<SearchRow> rows = recorder.rows.value(g);
    QHash<QString, QString> byDomain;
    for (int i = 0; i < rows.size(); ++i) {
        QCOMPARE(rows[i].row, i + 1);
        byDomain.insert(rows[i].cells[column::Domain], Recorder::describe(rows[i]));
    }
    // Not resolving, confirmed by the status page.
    QCOMPARE(byDomain.value(QStringLiteral("example.net")),
             QStringLiteral("row 2 [example.net|||example.net|已注册|||] red:"));
    // Not resolving, unconfirmed: red with its price.
    QCOMPARE(byDomain.value(QStringLiteral("example.biz")),
             QStringLiteral("row 6 [example.biz|||example.biz|未注册|14||] red:4"));
    // Filed, so the status page knows it; a filing number in red.
    QCOMPARE(byDomain.value(QStringLiteral("example.org")),
             QStringLiteral("row 3 [example.org|||example.org|已注册||浙ICP备9号|] red:6"));
    // A one-character filing number is not red.
    QCOMPARE(byDomain.value(QStringLiteral("example.de")),
             QStringLiteral("row 11 [example.de|||example.de|已注册||-|10.0.0.6] red:"));
    // Two dots: never fetched.
    QCOMPARE(byDomain.value(QStringLiteral("example.co.uk")),
             QStringLiteral("row 9 [example.co.uk|||example.co.uk|未注册|16||] red:4"));
    // Same /24 as the .tk wildcard answer: judged by the page.
    QCOMPARE(byDomain.value(QStringLiteral("example.tk")),
             QStringLiteral("row 16 [example.tk|||example.tk|未注册|13||] red:4"));
}

void DomainSearchTest::noBoxTicked()
{
    REQUIRE_RESOLVER();
    auto boxes = std::make_shared<SearchBoxes>();
    boxes->setAll(false);
    DomainSearch engine(backend(), boxes);
    Recorder recorder(engine);
    const quint64 g = runToEnd(engine, recorder, QStringLiteral("example"));
    const QStringList texts = recorder.texts(g);
    QCOMPARE(texts.size(), 1 + 17 + 1);
    QCOMPARE(texts.first(), QStringLiteral("reset"));
    QVERIFY(recorder.rows.value(g).isEmpty());
}

void DomainSearchTest::emptyKeyword()
{
    REQUIRE_RESOLVER();
    DomainSearch engine(backend(), std::make_shared<SearchBoxes>());
    Recorder recorder(engine);
    const QString reference = wildcardReferenceNames().last();
    const qsizetype asked = m_resolver.server().queriedNames().count(reference);
    const quint64 g = runToEnd(engine, recorder, QStringLiteral(" .com"));
    QCOMPARE(recorder.texts(g), QStringList{QStringLiteral("end")});
    // The wildcard reference is still made.
    QVERIFY(m_resolver.server().queriedNames().count(reference) > asked);
}

void DomainSearchTest::relatedDomainsAfterPhaseOne()
{
    REQUIRE_RESOLVER();
    auto boxes = std::make_shared<SearchBoxes>();
    boxes->setShowRelated(true);
    DomainSearch engine(backend(), boxes);
    Recorder recorder(engine);
    const quint64 g = runToEnd(engine, recorder, QStringLiteral("example"));

    const QStringList texts = recorder.texts(g);
    const qsizetype endOfPhaseOne = texts.indexOf(QStringLiteral("step 17/32 53%"));
    QVERIFY(endOfPhaseOne > 0);
    QVERIFY(texts.at(endOfPhaseOne + 1).startsWith(QStringLiteral("row ")));  // the .other row
    QVERIFY(texts.contains(QStringLiteral("step 32/32 100%")));

    const QStringList phaseOne = phaseOneDomains(QStringLiteral("example"));
    const QStringList related{QStringLiteral("myexample.com"), QStringLiteral("exampleshop.cn"),
                              QStringLiteral("examplebiz.com.cn")};
    QCOMPARE(recorder.domains(g), phaseOne + related);

    const QList<SearchRow> rows = recorder.rows.value(g).mid(phaseOne.size());
    // Filed domains are known to the status page.
    QCOMPARE(Recorder::describe(rows[0]),
             QStringLiteral("row 20 [myexample.com|||myexample.com|已注册||沪ICP备1号|] red:6"));
    // Red even when empty.
    QCOMPARE(Recorder::describe(rows[1]),
             QStringLiteral("row 21 [exampleshop.cn|||exampleshop.cn|已注册|||10.0.0.7] red:6"));
    // Two dots, so unregistered without a fetch, priced by the kind's first
    // extension.
    QCOMPARE(Recorder::describe(rows[2]),
             QStringLiteral("row 22 [examplebiz.com.cn|||examplebiz.com.cn|未注册|13|粤ICP备2号|] red:46"));
}

void DomainSearchTest::keywordIsLiteral_data()
{
    QTest::addColumn<QString>("keyword");
    QTest::addColumn<QStringList>("related");
    QTest::newRow("single quote") << QStringLiteral("ex'ample") << QStringList();
    QTest::newRow("percent") << QStringLiteral("%") << QStringList{QStringLiteral("50%off.net")};
    QTest::newRow("underscore") << QStringLiteral("exampl_") << QStringList();
    QTest::newRow("backslash") << QStringLiteral("ex\\") << QStringList();
}

void DomainSearchTest::keywordIsLiteral()
{
    REQUIRE_RESOLVER();
    QFETCH(QString, keyword);
    QFETCH(QStringList, related);
    auto boxes = std::make_shared<SearchBoxes>();
    boxes->setShowRelated(true);
    DomainSearch engine(backend(), boxes);
    Recorder recorder(engine);
    const quint64 g = runToEnd(engine, recorder, keyword);
    QCOMPARE(recorder.domains(g), phaseOneDomains(keyword) + related);
}

void DomainSearchTest::rowLimit()
{
    REQUIRE_RESOLVER();
    // With a limit of 2: ".uk" ends after its first row, and every later kind
    // still writes one row before its own check ends it.
    DomainSearch engine(backend(), std::make_shared<SearchBoxes>());
    engine.setRowLimit(2);
    Recorder recorder(engine);
    const quint64 g = runToEnd(engine, recorder, QStringLiteral("example"));
    QStringList expected;
    QString lastKind;
    for (const auto &[kind, extension] : PriceRows) {
        if (kind != lastKind)
            expected << QStringLiteral("example") + extension;
        lastKind = kind;
    }
    QCOMPARE(recorder.domains(g), expected);
}

void DomainSearchTest::stopMidSearch()
{
    REQUIRE_RESOLVER();
    auto boxes = std::make_shared<SearchBoxes>();
    boxes->setShowRelated(true);
    DomainSearch engine(backend(), boxes);
    engine.setParallelism(1);
    Recorder recorder(engine);
    recorder.onEvent = [&](const Event &e) {
        if (e.text.startsWith(QStringLiteral("row 2 ")))
            engine.stop();
    };
    const quint64 g = engine.start(QStringLiteral("example"));
    QTRY_VERIFY_WITH_TIMEOUT(recorder.ended(g), 60000);
    QVERIFY(!engine.isRunning());

    const QStringList texts = recorder.texts(g);
    qsizetype stoppedAt = 0;
    while (stoppedAt < texts.size() && !texts[stoppedAt].startsWith(QStringLiteral("row 2 ")))
        ++stoppedAt;
    QVERIFY(stoppedAt < texts.size());
    QCOMPARE(texts.mid(stoppedAt + 1), QStringList{QStringLiteral("end")});

    // Whatever the workers still had in hand never shows up.
    recorder.onEvent = {};
    const quint64 next = runToEnd(engine, recorder, QStringLiteral("example"));
    QCOMPARE(recorder.texts(g).size(), texts.size());
    QVERIFY(recorder.events.last().generation == next);
}

void DomainSearchTest::secondSearchSupersedes()
{
    REQUIRE_RESOLVER();
    auto boxes = std::make_shared<SearchBoxes>();
    boxes->setShowRelated(true);
    DomainSearch engine(backend(), boxes);
    Recorder recorder(engine);
    quint64 second = 0;
    recorder.onEvent = [&](const Event &e) {
        if (second == 0 && e.text.startsWith(QStringLiteral("row 1 ")))
            second = engine.start(QStringLiteral("myexample"));
    };
    const quint64 first = engine.start(QStringLiteral("example"));
    QTRY_VERIFY_WITH_TIMEOUT(second != 0 && recorder.ended(second), 60000);
    QVERIFY(!recorder.ended(first));

    qsizetype startOfSecond = -1;
    for (qsizetype i = 0; i < recorder.events.size(); ++i) {
        if (recorder.events[i].generation == second) {
            startOfSecond = i;
            break;
        }
    }
    QVERIFY(startOfSecond > 0);
    for (qsizetype i = startOfSecond; i < recorder.events.size(); ++i)
        QCOMPARE(recorder.events[i].generation, second);
    QCOMPARE(recorder.texts(second).first(), QStringLiteral("reset"));
    QCOMPARE(recorder.domains(second), phaseOneDomains(QStringLiteral("myexample")));
}

void DomainSearchTest::serialAndParallelAgree()
{
    REQUIRE_RESOLVER();
    auto boxes = std::make_shared<SearchBoxes>();
    boxes->setShowRelated(true);
    DomainSearch engine(backend(), boxes);
    Recorder recorder(engine);
    engine.setParallelism(1);
    const quint64 serial = runToEnd(engine, recorder, QStringLiteral("example"));
    engine.setParallelism(DomainSearch::defaultParallelism);
    const quint64 parallel = runToEnd(engine, recorder, QStringLiteral("example"));
    QVERIFY(recorder.rows.value(serial).size() > 20);
    QCOMPARE(recorder.texts(parallel), recorder.texts(serial));
}

void DomainSearchTest::statusServiceDown()
{
    REQUIRE_RESOLVER();
    // A port bound but never listened on refuses every connection: no HTTP
    // response at all.
    const int held = ::socket(AF_INET, SOCK_STREAM, 0);
    QVERIFY(held >= 0);
    const auto release = qScopeGuard([held] { ::close(held); });
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    QCOMPARE(::bind(held, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
    socklen_t length = sizeof address;
    QCOMPARE(::getsockname(held, reinterpret_cast<sockaddr *>(&address), &length), 0);
    const QString deadBase = QStringLiteral("http://127.0.0.1:%1/query/domain.asp?domain=")
                                 .arg(ntohs(address.sin_port));

    auto boxes = std::make_shared<SearchBoxes>();
    boxes->setAll(false);
    boxes->setKind(2, true);  // .org
    DomainSearch engine(backend(deadBase), boxes);
    Recorder recorder(engine);
    const quint64 g = runToEnd(engine, recorder, QStringLiteral("example"));
    QCOMPARE(recorder.rows.value(g).size(), 1);
    QCOMPARE(Recorder::describe(recorder.rows.value(g).first()),
             QStringLiteral("row 1 [example.org|||example.org|查询失败||浙ICP备9号|] red:6"));
}

void DomainSearchTest::databaseGoesAway()
{
    REQUIRE_RESOLVER();
    // A database of this test's own that loses its tables while the search
    // checks example.org, one candidate at a time.
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString file = dir.filePath(QStringLiteral("copy.db"));
    QVERIFY(QFile::copy(m_services.databasePath(), file));
    const QString text = QStringLiteral("Provider=SQLite;Data Source=") + file;

    SearchBackend parts = backend();
    const auto realResolve = parts.resolve;
    parts.resolve = [realResolve, file](const QString &domain) {
        if (domain == QLatin1StringView("example.org")) {
            const QString name = QStringLiteral("dropper");
            {
                QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
                db.setDatabaseName(file);
                if (db.open()) {
                    exec(db, QStringLiteral("alter table ldomainlist rename to gone_list"));
                    exec(db, QStringLiteral("alter table ldomainprice rename to gone_price"));
                }
            }
            QSqlDatabase::removeDatabase(name);
        }
        return realResolve(domain);
    };
    parts.queryRows = [text](const QString &sql, const QVariantList &params, const QStringList &columns) {
        return queryRowsOn(text, sql, params, columns);
    };
    parts.queryFirst = [text](const QString &sql, const QVariantList &params) {
        const QueryResult answer = queryFirstOn(text, sql, params);
        return SearchValue{answer.ok, answer.ok ? answer.firstvalue : QString()};
    };

    auto boxes = std::make_shared<SearchBoxes>();
    boxes->setShowRelated(true);
    DomainSearch engine(parts, boxes);
    engine.setParallelism(1);
    Recorder recorder(engine);
    const quint64 g = runToEnd(engine, recorder, QStringLiteral("example"));

    const QList<SearchRow> rows = recorder.rows.value(g);
    QCOMPARE(rows.size(), 3);  // .com, .net, .org; later kinds find no table
    QCOMPARE(rows[0].cells[column::Filing], QStringLiteral("京ICP备123号"));
    // Its number is in the lost table: the cell stays empty, it does not
    // repeat the number found before.
    QCOMPARE(rows[2].cells[column::Filing], QString());
    QCOMPARE(rows[2].cells[column::Status], QStringLiteral("已注册"));
}

void DomainSearchTest::engineDestroyedMidSearch()
{
    REQUIRE_RESOLVER();
    auto boxes = std::make_shared<SearchBoxes>();
    boxes->setShowRelated(true);
    auto engine = std::make_unique<DomainSearch>(backend(), boxes);
    QSignalSpy rows(engine.get(), &DomainSearch::rowReady);
    engine->start(QStringLiteral("example"));
    QVERIFY(rows.wait(60000));
    engine.reset();

    // The workers finish on their own; a new engine searches undisturbed.
    DomainSearch next(backend(), boxes);
    Recorder recorder(next);
    const quint64 g = runToEnd(next, recorder, QStringLiteral("example"));
    QCOMPARE(recorder.rows.value(g).size(), int(PriceRows.size()) + 3);
}

QTEST_GUILESS_MAIN(DomainSearchTest)
#include "DomainSearchTest.moc"
