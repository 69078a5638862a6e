// What the operator's console keeps in the store: operator accounts and their
// sessions, the audit log, the relay's activity samples, and the colour lock
// and colour history of each member. Same database and same rules as the
// rest of the store: one transaction per change.
#include <openssl/evp.h>
#include <sqlite3.h>

#include <cstdio>
#include <ctime>

#include "servers/webhost/webhost.h"

namespace webhost {

namespace {

// The colour history is kept by the database itself: every change of a
// member's colour, whoever makes it (the client's colour record, the member
// page, the console, the command line), leaves the colour it replaced.
constexpr const char* kConsoleSchema = R"(
CREATE TABLE IF NOT EXISTS operators (
  name TEXT PRIMARY KEY, password TEXT NOT NULL, created INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS operator_sessions (
  digest TEXT PRIMARY KEY, name TEXT NOT NULL, formkey TEXT NOT NULL, expires INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS audit (
  id INTEGER PRIMARY KEY, stamp INTEGER NOT NULL, operator TEXT NOT NULL, action TEXT NOT NULL);
CREATE TABLE IF NOT EXISTS activity (
  stamp INTEGER NOT NULL, channel INTEGER NOT NULL, members INTEGER NOT NULL, talk_ms INTEGER NOT NULL,
  PRIMARY KEY (stamp, channel));
CREATE TABLE IF NOT EXISTS colour_history (
  id INTEGER PRIMARY KEY, number INTEGER NOT NULL, stamp INTEGER NOT NULL,
  red INTEGER NOT NULL, green INTEGER NOT NULL, blue INTEGER NOT NULL);
CREATE INDEX IF NOT EXISTS colour_history_number ON colour_history (number, id);
CREATE TRIGGER IF NOT EXISTS colour_history_keep AFTER UPDATE OF red, green, blue ON members
  WHEN old.red != new.red OR old.green != new.green OR old.blue != new.blue
BEGIN
  INSERT INTO colour_history (number, stamp, red, green, blue)
    VALUES (old.number, CAST(strftime('%s', 'now') AS INTEGER), old.red, old.green, old.blue);
  DELETE FROM colour_history WHERE number = old.number AND id NOT IN
    (SELECT id FROM colour_history WHERE number = old.number ORDER BY id DESC LIMIT 20);
END;
CREATE TRIGGER IF NOT EXISTS colour_history_forget AFTER DELETE ON members
BEGIN
  DELETE FROM colour_history WHERE number = old.number;
END;
)";

constexpr long kOperatorSessionSeconds = 4 * 3600;
constexpr long kActivitySeconds = 30L * 24 * 3600;

long long now() { return static_cast<long long>(std::time(nullptr)); }

struct Sql {
  sqlite3_stmt* s = nullptr;
  explicit Sql(const char* sql) {
    if (sqlite3* d = storeDatabase()) sqlite3_prepare_v2(d, sql, -1, &s, nullptr);
  }
  ~Sql() { sqlite3_finalize(s); }
  Sql(const Sql&) = delete;
  Sql& operator=(const Sql&) = delete;
  explicit operator bool() const { return s != nullptr; }
  void text(int i, std::string_view v) { sqlite3_bind_text(s, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT); }
  void integer(int i, long long v) { sqlite3_bind_int64(s, i, v); }
  int step() { return sqlite3_step(s); }
  bool done() { return sqlite3_step(s) == SQLITE_DONE; }
  std::string columnText(int i) {
    const auto* p = sqlite3_column_text(s, i);
    return p ? std::string(reinterpret_cast<const char*>(p), static_cast<std::size_t>(sqlite3_column_bytes(s, i))) : std::string();
  }
  long long columnInt(int i) { return sqlite3_column_int64(s, i); }
};

int changes() { return sqlite3_changes(storeDatabase()); }

bool exec(const char* sql) {
  sqlite3* d = storeDatabase();
  return d && sqlite3_exec(d, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

// BEGIN IMMEDIATE: two writers queue on the busy timeout instead of failing half-way.
struct StoreTransaction {
  bool open = exec("BEGIN IMMEDIATE");
  bool done = false;
  bool commit() { return done = open && exec("COMMIT"); }
  ~StoreTransaction() {
    if (open && !done) exec("ROLLBACK");
  }
};

// A session token is kept only as its digest: a copy of the database does
// not hand out live operator sessions.
std::string digest(const std::string& token) {
  unsigned char out[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_Digest(token.data(), token.size(), out, &length, EVP_sha256(), nullptr) != 1) return {};
  std::string hex;
  char two[3];
  for (unsigned int i = 0; i < length; ++i) {
    std::snprintf(two, sizeof two, "%02x", out[i]);
    hex += two;
  }
  return hex;
}

// LIKE with the operator's text taken literally.
std::string likePattern(std::string_view text) {
  std::string out = "%";
  for (char c : text) {
    if (c == '%' || c == '_' || c == '\\') out += '\\';
    out += c;
  }
  return out + "%";
}

}  // namespace

bool applyConsoleSchema(sqlite3* db, std::string& error) {
  char* message = nullptr;
  // The lock column is added once to a store made before the console existed.
  if (sqlite3_exec(db, "SELECT colour_locked FROM members LIMIT 0", nullptr, nullptr, nullptr) != SQLITE_OK &&
      sqlite3_exec(db, "ALTER TABLE members ADD COLUMN colour_locked INTEGER NOT NULL DEFAULT 0", nullptr,
                   nullptr, &message) != SQLITE_OK) {
    error = message ? message : "colour_locked";
    sqlite3_free(message);
    return false;
  }
  if (sqlite3_exec(db, kConsoleSchema, nullptr, nullptr, &message) != SQLITE_OK) {
    error = message ? message : "console schema";
    sqlite3_free(message);
    return false;
  }
  return true;
}

// ---- Operators -------------------------------------------------------------------
SaveResult addOperator(const std::string& name, const std::string& hash) {
  Sql q("INSERT INTO operators (name, password, created) VALUES (?, ?, ?) ON CONFLICT (name) DO NOTHING");
  if (!q) return SaveResult::Error;
  q.text(1, name);
  q.text(2, hash);
  q.integer(3, now());
  if (!q.done()) return SaveResult::Error;
  return changes() == 1 ? SaveResult::Ok : SaveResult::Exists;
}

bool removeOperator(const std::string& name, bool& found) {
  StoreTransaction t;
  if (!t.open) return false;
  Sql q("DELETE FROM operators WHERE name = ?");
  Sql s("DELETE FROM operator_sessions WHERE name = ?");
  if (!q || !s) return false;
  q.text(1, name);
  s.text(1, name);
  if (!q.done()) return false;
  found = changes() == 1;
  return s.done() && t.commit();
}

bool listOperators(std::vector<std::string>& out) {
  Sql q("SELECT name FROM operators ORDER BY name");
  if (!q) return false;
  int rc;
  while ((rc = q.step()) == SQLITE_ROW) out.push_back(q.columnText(0));
  return rc == SQLITE_DONE;
}

Found loadOperatorHash(const std::string& name, std::string& hash) {
  Sql q("SELECT password FROM operators WHERE name = ?");
  if (!q) return Found::Error;
  q.text(1, name);
  const int rc = q.step();
  if (rc == SQLITE_DONE) return Found::No;
  if (rc != SQLITE_ROW) return Found::Error;
  hash = q.columnText(0);
  return Found::Yes;
}

bool createOperatorSession(const std::string& name, std::string& token, std::string& formKey) {
  token = randomHex(32);
  formKey = randomHex(16);
  const std::string key = digest(token);
  if (token.empty() || formKey.empty() || key.empty()) return false;
  StoreTransaction t;
  if (!t.open) return false;
  Sql purge("DELETE FROM operator_sessions WHERE expires < ?");
  Sql q("INSERT INTO operator_sessions (digest, name, formkey, expires) VALUES (?, ?, ?, ?)");
  if (!purge || !q) return false;
  purge.integer(1, now());
  if (!purge.done()) return false;
  q.text(1, key);
  q.text(2, name);
  q.text(3, formKey);
  q.integer(4, now() + kOperatorSessionSeconds);
  return q.done() && t.commit();
}

Found loadOperatorSession(const std::string& token, std::string& name, std::string& formKey) {
  Sql q("SELECT s.name, s.formkey FROM operator_sessions s JOIN operators o ON o.name = s.name "
        "WHERE s.digest = ? AND s.expires >= ?");
  if (!q) return Found::Error;
  q.text(1, digest(token));
  q.integer(2, now());
  const int rc = q.step();
  if (rc == SQLITE_DONE) return Found::No;
  if (rc != SQLITE_ROW) return Found::Error;
  name = q.columnText(0);
  formKey = q.columnText(1);
  return Found::Yes;
}

void dropOperatorSession(const std::string& token) {
  Sql q("DELETE FROM operator_sessions WHERE digest = ?");
  if (!q) return;
  q.text(1, digest(token));
  q.step();
}

// ---- Audit log ---------------------------------------------------------------------
bool addAudit(const std::string& who, std::string_view what) {
  Sql q("INSERT INTO audit (stamp, operator, action) VALUES (?, ?, ?)");
  if (!q) return false;
  q.integer(1, now());
  q.text(2, who);
  q.text(3, what);
  return q.done();
}

bool loadAudit(int offset, int limit, std::vector<AuditLine>& out, int& total) {
  Sql count("SELECT count(*) FROM audit");
  Sql q("SELECT stamp, operator, action FROM audit ORDER BY id DESC LIMIT ? OFFSET ?");
  if (!count || !q || count.step() != SQLITE_ROW) return false;
  total = static_cast<int>(count.columnInt(0));
  q.integer(1, limit);
  q.integer(2, offset);
  int rc;
  while ((rc = q.step()) == SQLITE_ROW) out.push_back({q.columnInt(0), q.columnText(1), q.columnText(2)});
  return rc == SQLITE_DONE;
}

// ---- Members, paged ------------------------------------------------------------------
bool searchMembers(std::string_view query, int offset, int limit, std::vector<MemberLine>& out, int& total) {
  // A number finds that member; any other text the members whose first
  // name, town or phrase holds it.
  const int number = parseMemberNumber(query);
  const char* where = query.empty() ? "1"
                      : number     ? "number = ?1"
                                   : "(prenom LIKE ?1 ESCAPE '\\' OR ville LIKE ?1 ESCAPE '\\' OR "
                                     "phrase LIKE ?1 ESCAPE '\\')";
  const std::string countSql = std::string("SELECT count(*) FROM members WHERE ") + where;
  const std::string listSql = std::string("SELECT number, prenom, ville, phrase, jour, email, folder, red, green, blue, "
                                          "password != '' FROM members WHERE ") + where +
                              " ORDER BY number LIMIT ?2 OFFSET ?3";
  Sql count(countSql.c_str());
  Sql q(listSql.c_str());
  if (!count || !q) return false;
  if (number) {
    count.integer(1, number);
    q.integer(1, number);
  } else if (!query.empty()) {
    count.text(1, likePattern(query));
    q.text(1, likePattern(query));
  }
  if (count.step() != SQLITE_ROW) return false;
  total = static_cast<int>(count.columnInt(0));
  q.integer(2, limit);
  q.integer(3, offset);
  int rc;
  while ((rc = q.step()) == SQLITE_ROW) {
    MemberLine line;
    line.number = static_cast<int>(q.columnInt(0));
    for (int f = 0; f < kFieldCount; ++f) line.profile.field[f] = q.columnText(1 + f);
    line.profile.red = static_cast<std::uint8_t>(q.columnInt(7));
    line.profile.green = static_cast<std::uint8_t>(q.columnInt(8));
    line.profile.blue = static_cast<std::uint8_t>(q.columnInt(9));
    line.hasPassword = q.columnInt(10) != 0;
    out.push_back(std::move(line));
  }
  return rc == SQLITE_DONE;
}

// ---- Shared pictures ----------------------------------------------------------------
Found shareExists(int channel) {
  Sql q("SELECT 1 FROM shares WHERE channel = ?");
  if (!q) return Found::Error;
  q.integer(1, channel);
  const int rc = q.step();
  return rc == SQLITE_ROW ? Found::Yes : rc == SQLITE_DONE ? Found::No : Found::Error;
}

bool removeShare(int channel, bool& found) {
  Sql q("DELETE FROM shares WHERE channel = ?");
  if (!q) return false;
  q.integer(1, channel);
  if (!q.done()) return false;
  found = changes() == 1;
  return true;
}

// ---- Colour lock and history ----------------------------------------------------------
Found colourLocked(int number, bool& locked) {
  Sql q("SELECT colour_locked FROM members WHERE number = ?");
  if (!q) return Found::Error;
  q.integer(1, number);
  const int rc = q.step();
  if (rc == SQLITE_DONE) return Found::No;
  if (rc != SQLITE_ROW) return Found::Error;
  locked = q.columnInt(0) != 0;
  return Found::Yes;
}

bool setColourLocked(int number, bool locked, bool& found) {
  Sql q("UPDATE members SET colour_locked = ? WHERE number = ?");
  if (!q) return false;
  q.integer(1, locked ? 1 : 0);
  q.integer(2, number);
  if (!q.done()) return false;
  found = changes() == 1;
  return true;
}

bool colourHistory(int number, std::vector<ColourEntry>& out) {
  Sql q("SELECT id, stamp, red, green, blue FROM colour_history WHERE number = ? ORDER BY id DESC");
  if (!q) return false;
  q.integer(1, number);
  int rc;
  while ((rc = q.step()) == SQLITE_ROW)
    out.push_back({q.columnInt(0), q.columnInt(1), static_cast<std::uint8_t>(q.columnInt(2)),
                   static_cast<std::uint8_t>(q.columnInt(3)), static_cast<std::uint8_t>(q.columnInt(4))});
  return rc == SQLITE_DONE;
}

// The entry is named by its id, not its place in the list: the list may have
// grown between the page the operator saw and the click.
bool restoreColour(int number, long long entry, ColourEntry& restored, bool& found) {
  StoreTransaction t;
  if (!t.open) return false;
  Sql pick("SELECT red, green, blue FROM colour_history WHERE number = ? AND id = ?");
  if (!pick) return false;
  pick.integer(1, number);
  pick.integer(2, entry);
  const int rc = pick.step();
  if (rc == SQLITE_DONE) return found = false, true;
  if (rc != SQLITE_ROW) return false;
  restored = {entry, 0, static_cast<std::uint8_t>(pick.columnInt(0)), static_cast<std::uint8_t>(pick.columnInt(1)),
              static_cast<std::uint8_t>(pick.columnInt(2))};
  Sql q("UPDATE members SET red = ?, green = ?, blue = ? WHERE number = ?");
  if (!q) return false;
  q.integer(1, restored.red);
  q.integer(2, restored.green);
  q.integer(3, restored.blue);
  q.integer(4, number);
  if (!q.done()) return false;
  found = changes() == 1;
  return t.commit();
}

// ---- Activity samples ------------------------------------------------------------------
bool saveActivity(long long stamp, const ActivitySample* samples, int count) {
  StoreTransaction t;
  if (!t.open) return false;
  Sql q("INSERT OR REPLACE INTO activity (stamp, channel, members, talk_ms) VALUES (?, ?, ?, ?)");
  Sql purge("DELETE FROM activity WHERE stamp < ?");
  if (!q || !purge) return false;
  for (int i = 0; i < count; ++i) {
    sqlite3_reset(q.s);
    q.integer(1, stamp);
    q.integer(2, samples[i].channel);
    q.integer(3, samples[i].members);
    q.integer(4, samples[i].talkMs);
    if (!q.done()) return false;
  }
  purge.integer(1, stamp - kActivitySeconds);
  return purge.done() && t.commit();
}

bool loadActivity(long long since, std::vector<ActivityRow>& out) {
  Sql q("SELECT stamp, channel, members, talk_ms FROM activity WHERE stamp >= ? ORDER BY stamp");
  if (!q) return false;
  q.integer(1, since);
  int rc;
  while ((rc = q.step()) == SQLITE_ROW)
    out.push_back({q.columnInt(0), static_cast<int>(q.columnInt(1)), static_cast<int>(q.columnInt(2)),
                   q.columnInt(3)});
  return rc == SQLITE_DONE;
}

bool loadHourlyTalk(long long since, std::vector<std::pair<long long, long long>>& out) {
  Sql q("SELECT stamp / 3600 * 3600, sum(talk_ms) FROM activity WHERE stamp >= ? GROUP BY 1 ORDER BY 1");
  if (!q) return false;
  q.integer(1, since);
  int rc;
  while ((rc = q.step()) == SQLITE_ROW) out.emplace_back(q.columnInt(0), q.columnInt(1));
  return rc == SQLITE_DONE;
}

}  // namespace webhost
