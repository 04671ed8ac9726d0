-- norvale-services database.
-- The three l-tables are the ones Norvale reads; the svc_ tables belong to the
-- service's own pages. Every value Norvale reads is text. Names that Norvale
-- matches compare without regard to letter case, as SQL Server's usual
-- collation does.

CREATE TABLE ldomainprice (
  lextendkind TEXT NOT NULL COLLATE NOCASE,
  lextend     TEXT NOT NULL,
  lprice      TEXT NOT NULL
);
CREATE INDEX ldomainprice_kind ON ldomainprice (lextendkind);

CREATE TABLE ldomainlist (
  lname         TEXT NOT NULL COLLATE NOCASE,
  lextend       TEXT NOT NULL COLLATE NOCASE,
  lallname      TEXT NOT NULL COLLATE NOCASE,
  lbackweb      TEXT NOT NULL DEFAULT '',
  lback         TEXT NOT NULL DEFAULT '',
  lbacktime     TEXT NOT NULL DEFAULT '',
  lbackhost     TEXT NOT NULL DEFAULT '',
  lbackhostkind TEXT NOT NULL DEFAULT '',
  lbackname     TEXT NOT NULL DEFAULT ''
);
CREATE INDEX ldomainlist_allname ON ldomainlist (lallname);

-- One row; the columns in the order the configuration record lists them.
CREATE TABLE lconfig_all (
  lver        TEXT NOT NULL,
  lhomeurl    TEXT NOT NULL,
  ldownurl    TEXT NOT NULL,
  lqq         TEXT NOT NULL,
  lqqimg      TEXT NOT NULL,
  lqqurl      TEXT NOT NULL,
  ltaobaoimg  TEXT NOT NULL,
  ltaobaourl  TEXT NOT NULL,
  lmailurl    TEXT NOT NULL,
  lmail       TEXT NOT NULL,
  lbuyurl     TEXT NOT NULL,
  llinkurl    TEXT NOT NULL,
  lbaidupage  TEXT NOT NULL,
  lbaidulink  TEXT NOT NULL,
  lgooglelink TEXT NOT NULL,
  lgooglepage TEXT NOT NULL,
  lyahoopage  TEXT NOT NULL,
  lyahoolink  TEXT NOT NULL,
  lyoudaopage TEXT NOT NULL,
  lyoudaolink TEXT NOT NULL,
  lsosopage   TEXT NOT NULL,
  lbingpage   TEXT NOT NULL,
  lsougoupage TEXT NOT NULL,
  lalexa      TEXT NOT NULL,
  lwhoisurl   TEXT NOT NULL,
  ldomainurl  TEXT NOT NULL,
  lipurl      TEXT NOT NULL,
  lipmessurl  TEXT NOT NULL,
  lweburl     TEXT NOT NULL,
  lbbsurl     TEXT NOT NULL,
  lchaturl    TEXT NOT NULL,
  lgbookurl   TEXT NOT NULL
);

-- Service settings, read on every request.
CREATE TABLE svc_settings (
  lkey   TEXT PRIMARY KEY,
  lvalue TEXT NOT NULL
);

-- Domains the status page reports as registered (besides those in ldomainlist).
CREATE TABLE svc_registered (
  ldomain TEXT PRIMARY KEY COLLATE NOCASE
);

-- Which domains live on which IPv4 address, for the reverse lookup.
CREATE TABLE svc_hosts (
  ldomain TEXT NOT NULL COLLATE NOCASE,
  lip     TEXT NOT NULL
);
CREATE INDEX svc_hosts_ip ON svc_hosts (lip);

CREATE TABLE svc_whois (
  ldomain     TEXT PRIMARY KEY COLLATE NOCASE,
  lregistrar  TEXT NOT NULL DEFAULT '',
  lregistrant TEXT NOT NULL DEFAULT '',
  lemail      TEXT NOT NULL DEFAULT '',
  lcreated    TEXT NOT NULL DEFAULT '',
  lexpires    TEXT NOT NULL DEFAULT '',
  lstatus     TEXT NOT NULL DEFAULT '',
  lns1        TEXT NOT NULL DEFAULT '',
  lns2        TEXT NOT NULL DEFAULT ''
);

CREATE TABLE svc_geo (
  lip        TEXT PRIMARY KEY,
  lcountry   TEXT NOT NULL DEFAULT '',
  lregion    TEXT NOT NULL DEFAULT '',
  lcity      TEXT NOT NULL DEFAULT '',
  llatitude  TEXT NOT NULL DEFAULT '',
  llongitude TEXT NOT NULL DEFAULT '',
  lzipcode   TEXT NOT NULL DEFAULT '',
  ltimezone  TEXT NOT NULL DEFAULT '',
  lisp       TEXT NOT NULL DEFAULT '',
  liddcode   TEXT NOT NULL DEFAULT ''
);

-- The operator's link pages. {base} becomes the service's address, {domain}
-- the request's domain parameter.
CREATE TABLE svc_pages (
  lpath  TEXT PRIMARY KEY,
  ltitle TEXT NOT NULL,
  lbody  TEXT NOT NULL
);

-- Files served as they are (pictures; an installer placed here wins over the
-- generated one).
CREATE TABLE svc_files (
  lpath        TEXT PRIMARY KEY,
  lcontenttype TEXT NOT NULL,
  ldata        BLOB NOT NULL
);
