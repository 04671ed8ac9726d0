#!/usr/bin/env python3
"""Writes seed.sql, qq.png and shop.png beside this script.

The data is invented and generated from a fixed random seed, so running the
script again gives the same files. The build uses the committed output; run
this only to change the seed data.
"""

import os
import random
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
BASE = "http://127.0.0.1:8858"
rng = random.Random(58858)


def q(text):
    return "'" + str(text).replace("'", "''") + "'"


def insert(table, values):
    return "INSERT INTO %s VALUES (%s);" % (table, ", ".join(q(v) for v in values))


# --- pictures -----------------------------------------------------------------

def png(width, height, pixel):
    raw = bytearray()
    for y in range(height):
        raw.append(0)
        for x in range(width):
            raw.extend(pixel(x, y))

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    header = struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header)
            + chunk(b"IDAT", zlib.compress(bytes(raw), 9)) + chunk(b"IEND", b""))


def qq_pixel(x, y):
    # A round black figure with a white belly and a yellow beak, 33 x 25.
    cx, cy = 16, 12
    dx, dy = (x - cx) / 9.0, (y - cy) / 11.5
    if dx * dx + dy * dy > 1.0:
        return (0, 0, 0, 0)
    if 9 <= y <= 10 and 14 <= x <= 18:
        return (250, 190, 20, 255)
    bx, by = (x - cx) / 6.0, (y - 16) / 7.0
    if bx * bx + by * by <= 1.0:
        return (255, 255, 255, 255)
    if y in (7, 8) and x in (13, 19):
        return (255, 255, 255, 255)
    return (20, 20, 20, 255)


def shop_pixel(x, y):
    # An orange banner with a lighter band, 161 x 25.
    if y < 2 or y > 22 or x < 2 or x > 158:
        return (200, 70, 0, 255)
    if 10 <= y <= 14:
        return (255, 210, 150, 255)
    return (255, 110, 20, 255)


# --- extension prices ----------------------------------------------------------

PRICES = [
    (".com", [(".com", "69")]),
    (".net", [(".net", "79")]),
    (".org", [(".org", "79")]),
    (".info", [(".info", "39")]),
    (".name", [(".name", "69")]),
    (".biz", [(".biz", "79")]),
    (".us", [(".us", "69")]),
    (".uk", [(".uk", "59"), (".co.uk", "49"), (".org.uk", "49"), (".me.uk", "49")]),
    (".eu", [(".eu", "49")]),
    (".de", [(".de", "39")]),
    (".es", [(".es", "49"), (".com.es", "39"), (".org.es", "39")]),
    (".in", [(".in", "79"), (".co.in", "49"), (".net.in", "49"), (".org.in", "49")]),
    (".co", [(".co", "199"), (".com.co", "99")]),
    (".asia", [(".asia", "59")]),
    (".tk", [(".tk", "10")]),
    (".cn", [(".cn", "39"), (".com.cn", "39"), (".net.cn", "39"), (".org.cn", "39"),
             (".bj.cn", "29"), (".sh.cn", "29"), (".tj.cn", "29"), (".cq.cn", "29"),
             (".gd.cn", "29"), (".zj.cn", "29"), (".js.cn", "29"), (".sd.cn", "29"),
             (".sc.cn", "29"), (".fj.cn", "29"), (".hb.cn", "29"), (".hn.cn", "29")]),
    (".other", [(".top", "9"), (".xyz", "15"), (".club", "29"), (".vip", "39"),
                (".shop", "49"), (".site", "19"), (".online", "29"), (".tech", "49"),
                (".store", "59"), (".wang", "29"), (".ltd", "39"), (".work", "19"),
                (".cc", "49"), (".tv", "159")]),
]

# --- filed domains ---------------------------------------------------------------

PROVINCES = [
    # abbreviation, city, provincial extension, city code for site names
    ("京", "北京", ".bj.cn"), ("沪", "上海", ".sh.cn"), ("粤", "广州", ".gd.cn"),
    ("粤", "深圳", ".gd.cn"), ("浙", "杭州", ".zj.cn"), ("苏", "南京", ".js.cn"),
    ("鲁", "济南", ".sd.cn"), ("川", "成都", ".sc.cn"), ("闽", "厦门", ".fj.cn"),
    ("鄂", "武汉", ".hb.cn"), ("湘", "长沙", ".hn.cn"), ("津", "天津", ".tj.cn"),
    ("渝", "重庆", ".cq.cn"),
]

SYLLABLES = ["hua", "xin", "jin", "tian", "da", "zhong", "bao", "long", "feng", "yun",
             "kang", "mei", "jia", "hong", "sheng", "tong", "an", "rui", "bo", "chuang",
             "ke", "ji", "wang", "shang", "cheng", "hai", "shan", "xing", "yuan", "le",
             "ming", "yi", "tai", "heng", "fu", "lan", "qi", "hui"]
WORDS = ["tech", "shop", "soft", "data", "cloud", "web", "net", "info", "game", "home",
         "travel", "auto", "china", "mall", "media", "edu", "design", "food", "music", "news"]
BRANDS = ["华信", "金天", "大中", "宝龙", "丰云", "康美", "嘉鸿", "盛通", "安瑞", "博创",
          "科技", "汇通", "明逸", "泰恒", "福兰", "启辉", "海山", "星源", "乐诚", "云帆",
          "瑞丰", "鼎新", "天成", "恒远", "佳和", "联创", "中科", "锦程", "百川", "新锐"]
TRADES = ["科技", "网络科技", "信息技术", "电子商务", "文化传媒", "贸易", "软件", "教育咨询",
          "旅行社", "餐饮管理", "广告", "设计", "物流", "建筑工程"]
SURNAMES = "王李张刘陈杨黄赵吴周徐孙马朱胡郭何林罗高"
GIVEN = ["伟", "芳", "娜", "秀英", "敏", "静", "丽", "强", "磊", "军", "洋", "勇", "艳",
         "杰", "娟", "涛", "明", "超", "秀兰", "霞", "平", "刚", "建华", "志强", "海燕"]
INSTITUTIONS = ["第一中学", "职业技术学院", "图书馆", "博物馆", "疾病预防控制中心",
                "气象服务中心", "人民医院", "文化馆", "档案馆", "科学技术协会"]
SITE_SUFFIX = {"企业": ["官网", "商城", "官方网站", "在线", "服务平台"],
               "个人": ["的博客", "的小站", "的网络日志", "的摄影集"],
               "事业单位": ["门户网站", "信息网", "官方网站"]}
DOMAIN_EXT = [".com"] * 8 + [".cn"] * 5 + [".com.cn"] * 5 + [".net"] * 3 + [".net.cn"] * 2 + \
             [".org"] * 2 + [".org.cn"] * 2 + ["PROV"] * 3 + [".top", ".vip", ".wang", ".xyz",
                                                             ".info", ".cc", ".tv", ".club"]

# Documentation address ranges: nothing real lives there.
NETS = ["192.0.2.", "198.51.100.", "203.0.113."]

CITIES = [
    ("中国", "北京市", "北京", "39.9042", "116.4074", "100000", "Asia/Shanghai", "86"),
    ("中国", "上海市", "上海", "31.2304", "121.4737", "200000", "Asia/Shanghai", "86"),
    ("中国", "广东省", "广州", "23.1291", "113.2644", "510000", "Asia/Shanghai", "86"),
    ("中国", "广东省", "深圳", "22.5431", "114.0579", "518000", "Asia/Shanghai", "86"),
    ("中国", "浙江省", "杭州", "30.2741", "120.1551", "310000", "Asia/Shanghai", "86"),
    ("中国", "江苏省", "南京", "32.0603", "118.7969", "210000", "Asia/Shanghai", "86"),
    ("中国", "四川省", "成都", "30.5728", "104.0668", "610000", "Asia/Shanghai", "86"),
    ("中国", "湖北省", "武汉", "30.5928", "114.3055", "430000", "Asia/Shanghai", "86"),
    ("中国", "福建省", "厦门", "24.4798", "118.0894", "361000", "Asia/Shanghai", "86"),
    ("中国", "山东省", "济南", "36.6512", "117.1201", "250000", "Asia/Shanghai", "86"),
    ("中国", "香港特别行政区", "香港", "22.3193", "114.1694", "999077", "Asia/Hong_Kong", "852"),
    ("美国", "加利福尼亚州", "洛杉矶", "34.0522", "-118.2437", "90012", "America/Los_Angeles", "1"),
    ("日本", "东京都", "东京", "35.6762", "139.6503", "100-0001", "Asia/Tokyo", "81"),
]
ISPS = ["中国电信", "中国联通", "中国移动", "星河数据中心", "东方云网络", "蓝海IDC"]
FOREIGN_ISPS = ["Harbor Cloud", "Bluepeak Hosting", "太平洋数据"]

REGISTRARS = ["蓝鲸域名注册服务有限公司", "云栈互联注册服务有限公司", "Starlight Domains Inc.",
              "Northbay Names Ltd.", "千帆网络注册服务有限公司"]
STATUSES = ["ok", "clientTransferProhibited", "clientDeleteProhibited clientTransferProhibited"]


def domain_name(used):
    while True:
        kind = rng.random()
        if kind < 0.55:
            name = "".join(rng.choice(SYLLABLES) for _ in range(rng.choice([2, 2, 3])))
        elif kind < 0.85:
            name = rng.choice(SYLLABLES) + rng.choice(SYLLABLES) + rng.choice(WORDS)
        else:
            name = rng.choice(WORDS) + rng.choice(SYLLABLES) + str(rng.randint(1, 99))
        if name not in used:
            used.add(name)
            return name


def filed_domains(count):
    rows, used = [], set()
    for _ in range(count):
        abbr, city, prov_ext = rng.choice(PROVINCES)
        ext = rng.choice(DOMAIN_EXT)
        if ext == "PROV":
            ext = prov_ext
        name = domain_name(used)
        hostkind = rng.choices(["企业", "个人", "事业单位"], weights=[6, 3, 1])[0]
        if hostkind == "企业":
            brand = rng.choice(BRANDS)
            host = city + brand + rng.choice(TRADES) + "有限公司"
            site = brand + rng.choice(SITE_SUFFIX[hostkind])
        elif hostkind == "个人":
            person = rng.choice(SURNAMES) + rng.choice(GIVEN)
            host = person
            site = person + rng.choice(SITE_SUFFIX[hostkind])
        else:
            host = city + "市" + rng.choice(INSTITUTIONS)
            site = host + rng.choice(SITE_SUFFIX[hostkind])
        number = rng.randint(10000000, 99999999) if rng.random() < 0.8 else rng.randint(100000, 999999)
        if hostkind == "企业" and rng.random() < 0.12:
            lback = "%sICP证%06d号" % (abbr, rng.randint(10000, 999999))
        else:
            lback = "%sICP备%d号" % (abbr, number)
        site_no = "%sICP备%d号-%d" % (abbr, number, rng.choice([1, 1, 1, 2, 3]))
        if rng.random() < 0.04:
            site_no = ""   # filed subject, site number withdrawn
        when = "%04d-%02d-%02d" % (rng.randint(2006, 2023), rng.randint(1, 12), rng.randint(1, 28))
        rows.append((name, ext, name + ext, site_no, lback, when, host, hostkind, site))
    return rows


def whois_row(domain, registrant):
    created_year = rng.randint(2003, 2022)
    created = "%04d-%02d-%02dT%02d:%02d:%02dZ" % (created_year, rng.randint(1, 12), rng.randint(1, 28),
                                                 rng.randint(0, 23), rng.randint(0, 59), rng.randint(0, 59))
    expires = "%04d-%s" % (created_year + rng.randint(4, 22), created[5:])
    ns_host = rng.choice(["dns.bluewhale-dns.test", "ns.yunzhan.test", "dns.starlight.test", "ns.qianfan.test"])
    n = rng.randint(1, 30)
    return (domain, rng.choice(REGISTRARS), registrant, "dns@" + domain, created, expires,
            rng.choice(STATUSES), "ns%d.%s" % (n, ns_host), "ns%d.%s" % (n + 1, ns_host))


PAGES = [
    ("/", "Norvale 域名工具", "<p>欢迎使用 Norvale 域名工具。</p>"
     "<ul><li><a href=\"{base}/web/\">网页版</a></li><li><a href=\"{base}/bbs/\">论坛</a></li>"
     "<li><a href=\"{base}/chat/\">聊天室</a></li><li><a href=\"{base}/gbook/\">留言本</a></li>"
     "<li><a href=\"{base}/download/NorvaleSetup.exe\">下载最新版本</a></li></ul>"),
    ("/index.asp", "Norvale 域名工具", "<p>欢迎使用 Norvale 域名工具。</p>"
     "<p><a href=\"{base}/\">进入首页</a></p>"),
    ("/web/", "Norvale 网页版", "<form action=\"{base}/query/domain.asp\"><p>域名："
     "<input name=\"domain\"> <input type=\"submit\" value=\"查询\"></p></form>"),
    ("/bbs/", "Norvale 论坛", "<p>域名交流论坛。</p><ul><li>新手入门：如何挑选好域名</li>"
     "<li>域名交易经验谈</li><li>备案常见问题</li></ul>"),
    ("/chat/", "Norvale 聊天室", "<p>聊天室暂未开放，请稍后再来。</p>"),
    ("/gbook/", "Norvale 留言本", "<p>欢迎留言，我们会尽快回复。</p>"),
    ("/buy/register.asp", "域名注册", "<p>您选择的域名：<b>{domain}</b></p>"
     "<p>请在下方填写注册信息后提交。</p>"),
    ("/link/qq.asp", "QQ 在线客服", "<p>客服 QQ：806512347，工作时间 9:00-18:00。</p>"),
    ("/link/shop.asp", "Norvale 网店", "<p>域名、主机与建站服务，欢迎选购。</p>"),
    ("/link/links.asp", "友情链接", "<p>友情链接申请请联系管理员。</p>"),
]
HELD = ["lbaidupage", "lbaidulink", "lgooglelink", "lgooglepage", "lyahoopage", "lyahoolink",
        "lyoudaopage", "lyoudaolink", "lsosopage", "lbingpage", "lsougoupage", "lalexa"]


def config_row():
    return [
        "1.1",
        BASE + "/",
        BASE + "/download/NorvaleSetup.exe",
        "806512347",
        BASE + "/images/qq.png",
        BASE + "/link/qq.asp",
        BASE + "/images/shop.png",
        BASE + "/link/shop.asp",
        "mailto:admin@norvale.test",
        "admin@norvale.test",
        BASE + "/buy/register.asp?domain=",
        BASE + "/link/links.asp",
    ] + [BASE + "/link/%s.asp?site=" % key for key in HELD] + [
        BASE + "/query/whois.asp?domain=",
        BASE + "/query/domain.asp?domain=",
        BASE + "/query/ip.asp?ip=",
        BASE + "/query/ipmess.asp?ip=",
        BASE + "/web/",
        BASE + "/bbs/",
        BASE + "/chat/",
        BASE + "/gbook/",
    ]


def main():
    qq = png(33, 25, qq_pixel)
    shop = png(161, 25, shop_pixel)
    with open(os.path.join(HERE, "qq.png"), "wb") as f:
        f.write(qq)
    with open(os.path.join(HERE, "shop.png"), "wb") as f:
        f.write(shop)

    out = ["-- Generated by gen_seed.py; invented data."]

    settings = [
        ("checkin", "qomp58x"),
        ("connection", "{connection}"),
        ("datamarker", "|data|"),
        ("datatemplate", ""),
        ("base", BASE),
        ("installer_size", "393216"),
    ]
    out += [insert("svc_settings", row) for row in settings]

    for kind, rows in PRICES:
        out += [insert("ldomainprice", (kind, ext, price)) for ext, price in rows]

    config = config_row()
    assert len(config) == 32
    out.append(insert("lconfig_all", config))

    filed = filed_domains(320)
    out += [insert("ldomainlist", row) for row in filed]

    # Registered but not filed: a few names under every kind.
    used = {row[0] for row in filed}
    extra = []
    for kind, rows in PRICES:
        for ext, _ in rows[:3]:
            for _ in range(3):
                extra.append(domain_name(used) + ext)
    out += [insert("svc_registered", (d,)) for d in extra]

    # Hosts: about forty addresses, most carrying several sites.
    addresses = sorted({rng.choice(NETS) + str(rng.randint(2, 250)) for _ in range(48)})
    hosted = [row[2] for row in filed] + extra[::2]
    for domain in hosted:
        out.append(insert("svc_hosts", (domain, rng.choice(addresses))))
    out.append(insert("svc_hosts", ("norvale.test", "127.0.0.1")))
    out.append(insert("svc_hosts", ("www.norvale.test", "127.0.0.1")))

    for address in addresses:
        city = rng.choice(CITIES[:10]) if rng.random() < 0.8 else rng.choice(CITIES[10:])
        country, region, town, lat, lon, zipcode, zone, idd = city
        out.append(insert("svc_geo", (address, country, region, town, lat, lon, zipcode, zone,
                                      rng.choice(ISPS if idd == "86" else FOREIGN_ISPS), idd)))
    out.append(insert("svc_geo", ("127.0.0.1", "本机地址", "本机地址", "本机地址", "0", "0", "",
                                  "Asia/Shanghai", "本机", "86")))

    for row in filed:
        out.append(insert("svc_whois", whois_row(row[2], row[6])))
    for domain in extra:
        out.append(insert("svc_whois", whois_row(domain, "Redacted for privacy")))

    out += [insert("svc_pages", row) for row in PAGES]
    for key in HELD:
        out.append(insert("svc_pages", ("/link/%s.asp" % key, "推荐链接", "<p>推荐链接：{site}</p>")))

    out.append("INSERT INTO svc_files VALUES ('/images/qq.png', 'image/png', X'%s');" % qq.hex())
    out.append("INSERT INTO svc_files VALUES ('/images/shop.png', 'image/png', X'%s');" % shop.hex())

    with open(os.path.join(HERE, "seed.sql"), "w", encoding="utf-8", newline="\n") as f:
        f.write("\n".join(out) + "\n")


if __name__ == "__main__":
    main()
