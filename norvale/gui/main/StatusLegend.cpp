#include "norvale/gui/main/StatusLegend.h"

#include <QStringList>

namespace norvale {

namespace {

struct Meaning {
    const char16_t *status;
    const char16_t *explanation;
};

constexpr Meaning meanings[] = {
    {u"未注册", u"红字“未注册”：名称解析不到真实地址，状态页也未确认注册，可以注册；拟售价是它的售价"},
    {u"已注册", u"已注册：名称解析到真实地址，或状态页确认已注册"},
    {u"查询失败", u"查询失败：状态页没有应答，无法判断是否已注册"},
    {u"无效域名", u"无效域名：含空格、引号、下划线等，不能作为域名，无法注册"},
};

} // namespace

QString statusLegend()
{
    QStringList lines;
    for (const Meaning &m : meanings)
        lines << QString::fromUtf16(m.explanation);
    return lines.join(u'\n');
}

QString statusLegendShort()
{
    return QStringLiteral("红字＝未注册　查询失败＝状态页无应答　无效域名＝不能作域名");
}

QString statusExplanation(const QString &status)
{
    for (const Meaning &m : meanings) {
        if (status == QStringView(m.status))
            return QString::fromUtf16(m.explanation);
    }
    return {};
}

} // namespace norvale
