// The store: one SQLite database in the data folder. Every change is one
// transaction, the journal is write-ahead with full syncs, so a host killed
// in the middle of a write comes back with either the old or the new state.
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>
#include <sodium.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>

#include "servers/webhost/webhost.h"

namespace webhost {

namespace {

std::string databasePath;

constexpr const char* kSchema = R"(
CREATE TABLE IF NOT EXISTS members (
  number INTEGER PRIMARY KEY CHECK (number BETWEEN 1 AND 65535),
  prenom TEXT NOT NULL, ville TEXT NOT NULL, phrase TEXT NOT NULL,
  jour TEXT NOT NULL, email TEXT NOT NULL, folder TEXT NOT NULL,
  red INTEGER NOT NULL, green INTEGER NOT NULL, blue INTEGER NOT NULL,
  password TEXT NOT NULL DEFAULT '',
  small BLOB NOT NULL, large BLOB NOT NULL);
CREATE TABLE IF NOT EXISTS shares (
  channel INTEGER PRIMARY KEY CHECK (channel BETWEEN 0 AND 10),
  picture BLOB NOT NULL, thumb BLOB NOT NULL, name TEXT NOT NULL, stamp INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS sessions (
  token TEXT PRIMARY KEY, number INTEGER NOT NULL, formkey TEXT NOT NULL, expires INTEGER NOT NULL);
)";

// Columns added since the first stores; an existing member keeps the safe
// choice (e-mail not published). Each fails harmlessly once the column is
// there. (colour_locked comes with the console's schema.)
constexpr const char* kAddedColumns[] = {
    "ALTER TABLE members ADD COLUMN email_public INTEGER NOT NULL DEFAULT 0",
};

constexpr long kSessionSeconds = 8 * 3600;

struct Connection {
  sqlite3* db = nullptr;
  ~Connection() { sqlite3_close_v2(db); }
};

sqlite3* open(std::string* error = nullptr) {
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(databasePath.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE |
                                                     SQLITE_OPEN_NOMUTEX, nullptr) != SQLITE_OK) {
    if (error) *error = db ? sqlite3_errmsg(db) : "sqlite3_open_v2";
    sqlite3_close_v2(db);
    return nullptr;
  }
  sqlite3_busy_timeout(db, 10000);
  sqlite3_exec(db, "PRAGMA journal_mode=WAL; PRAGMA synchronous=FULL; PRAGMA foreign_keys=ON;",
               nullptr, nullptr, nullptr);
  return db;
}

// One connection per thread: readers then never wait for each other.
sqlite3* db() {
  thread_local Connection connection;
  if (!connection.db) connection.db = open();
  return connection.db;
}

struct Statement {
  sqlite3_stmt* s = nullptr;
  explicit Statement(const char* sql) {
    if (sqlite3* d = db()) sqlite3_prepare_v2(d, sql, -1, &s, nullptr);
  }
  ~Statement() { sqlite3_finalize(s); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  explicit operator bool() const { return s != nullptr; }
  void text(int i, std::string_view v) { sqlite3_bind_text(s, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT); }
  void blob(int i, const std::string& v) { sqlite3_bind_blob(s, i, v.data(), static_cast<int>(v.size()), SQLITE_STATIC); }
  void integer(int i, long long v) { sqlite3_bind_int64(s, i, v); }
  int step() { return sqlite3_step(s); }
  std::string columnText(int i) {
    const auto* p = sqlite3_column_text(s, i);
    return p ? std::string(reinterpret_cast<const char*>(p), static_cast<std::size_t>(sqlite3_column_bytes(s, i))) : std::string();
  }
  std::string columnBlob(int i) {
    const auto* p = static_cast<const char*>(sqlite3_column_blob(s, i));
    return p ? std::string(p, static_cast<std::size_t>(sqlite3_column_bytes(s, i))) : std::string();
  }
  long long columnInt(int i) { return sqlite3_column_int64(s, i); }
};

bool exec(const char* sql) {
  sqlite3* d = db();
  return d && sqlite3_exec(d, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

// BEGIN IMMEDIATE takes the write lock at once, so two writers queue on the
// busy timeout instead of failing half-way.
struct Transaction {
  bool open = exec("BEGIN IMMEDIATE");
  bool done = false;
  bool commit() { return done = open && exec("COMMIT"); }
  ~Transaction() {
    if (open && !done) exec("ROLLBACK");
  }
};

constexpr const char* kProfileColumns =
    "prenom, ville, phrase, jour, email, folder, red, green, blue, email_public, colour_locked";

void readProfile(Statement& q, int first, Profile& out) {
  for (int f = 0; f < kFieldCount; ++f) out.field[f] = q.columnText(first + f);
  out.red = static_cast<std::uint8_t>(q.columnInt(first + 6));
  out.green = static_cast<std::uint8_t>(q.columnInt(first + 7));
  out.blue = static_cast<std::uint8_t>(q.columnInt(first + 8));
  out.emailPublic = q.columnInt(first + 9) != 0;
  out.colourLocked = q.columnInt(first + 10) != 0;
}

// Sessions are found by the SHA-256 of their token: the store never holds
// a token that could be replayed as a cookie.
std::string tokenDigest(const std::string& token) {
  unsigned char digest[crypto_hash_sha256_BYTES];
  crypto_hash_sha256(digest, reinterpret_cast<const unsigned char*>(token.data()), token.size());
  char hex[2 * sizeof digest + 1];
  sodium_bin2hex(hex, sizeof hex, digest, sizeof digest);
  return hex;
}

}  // namespace

bool openStore(const std::string& dataDir, std::string& error) {
  mkdir(dataDir.c_str(), 0750);
  databasePath = dataDir + "/webhost.db";
  std::unique_ptr<sqlite3, int (*)(sqlite3*)> check(open(&error), sqlite3_close_v2);
  if (!check) return false;
  char* message = nullptr;
  if (sqlite3_exec(check.get(), kSchema, nullptr, nullptr, &message) != SQLITE_OK) {
    error = message ? message : "schema";
    sqlite3_free(message);
    return false;
  }
  for (const char* column : kAddedColumns) sqlite3_exec(check.get(), column, nullptr, nullptr, nullptr);
  if (sodium_init() < 0) {
    error = "libsodium";
    return false;
  }
  return applyConsoleSchema(check.get(), error);
}

sqlite3* storeDatabase() { return db(); }

Found loadProfile(int number, Profile& out) {
  Statement q((std::string("SELECT ") + kProfileColumns + " FROM members WHERE number = ?").c_str());
  if (!q) return Found::Error;
  q.integer(1, number);
  const int rc = q.step();
  if (rc == SQLITE_DONE) return Found::No;
  if (rc != SQLITE_ROW) return Found::Error;
  readProfile(q, 0, out);
  return Found::Yes;
}

Found loadPortrait(int number, int which, std::string& png) {
  Statement q(which == 1 ? "SELECT small FROM members WHERE number = ?"
                         : "SELECT large FROM members WHERE number = ?");
  if (!q) return Found::Error;
  q.integer(1, number);
  const int rc = q.step();
  if (rc == SQLITE_DONE) return Found::No;
  if (rc != SQLITE_ROW) return Found::Error;
  png = q.columnBlob(0);
  return Found::Yes;
}

SaveResult saveMember(int number, const Profile& p, bool create, const std::string* small,
                      const std::string* large) {
  Transaction t;
  if (!t.open) return SaveResult::Error;
  bool exists;
  {
    Statement q("SELECT 1 FROM members WHERE number = ?");
    if (!q) return SaveResult::Error;
    q.integer(1, number);
    exists = q.step() == SQLITE_ROW;
  }
  if (create && exists) return SaveResult::Exists;
  if (!create && !exists) return SaveResult::Missing;
  Statement q(create ? "INSERT INTO members (prenom, ville, phrase, jour, email, folder, red, green, blue, small, large, "
                       "email_public, colour_locked, number) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"
                     : "UPDATE members SET prenom = ?, ville = ?, phrase = ?, jour = ?, email = ?, folder = ?, "
                       "red = ?, green = ?, blue = ?, small = coalesce(?, small), large = coalesce(?, large), "
                       "email_public = ?, colour_locked = ? WHERE number = ?");
  if (!q) return SaveResult::Error;
  for (int f = 0; f < kFieldCount; ++f) q.text(f + 1, p.field[f]);
  q.integer(7, p.red);
  q.integer(8, p.green);
  q.integer(9, p.blue);
  if (small) q.blob(10, *small);
  if (large) q.blob(11, *large);
  q.integer(12, p.emailPublic);
  q.integer(13, p.colourLocked);
  q.integer(14, number);
  if (q.step() != SQLITE_DONE) return SaveResult::Error;
  return t.commit() ? SaveResult::Ok : SaveResult::Error;
}

bool saveBackground(int number, std::uint8_t red, std::uint8_t green, std::uint8_t blue, bool& found) {
  Transaction t;
  if (!t.open) return false;
  Statement q("UPDATE members SET red = ?, green = ?, blue = ? WHERE number = ?");
  if (!q) return false;
  q.integer(1, red);
  q.integer(2, green);
  q.integer(3, blue);
  q.integer(4, number);
  if (q.step() != SQLITE_DONE) return false;
  found = sqlite3_changes(db()) == 1;
  return t.commit();
}

bool savePasswordHash(int number, const std::string& hash) {
  Transaction t;
  if (!t.open) return false;
  Statement q("UPDATE members SET password = ? WHERE number = ?");
  if (!q) return false;
  q.text(1, hash);
  q.integer(2, number);
  if (q.step() != SQLITE_DONE || sqlite3_changes(db()) != 1) return false;
  return t.commit();
}

bool undoBackground(int number, bool& undone) {
  undone = false;
  Transaction t;
  if (!t.open) return false;
  Statement last("SELECT id, red, green, blue FROM colour_history WHERE number = ? ORDER BY id DESC LIMIT 1");
  if (!last) return false;
  last.integer(1, number);
  const int rc = last.step();
  if (rc == SQLITE_DONE) return true;
  if (rc != SQLITE_ROW) return false;
  // The history's trigger keeps the colour this replaces as the newest
  // entry; an undo drops it with the entry it went back to, so a second
  // undo goes one step further back instead of returning.
  Statement set("UPDATE members SET red = ?, green = ?, blue = ? WHERE number = ?");
  Statement drop("DELETE FROM colour_history WHERE number = ? AND "
                 "(id = ? OR id = (SELECT max(id) FROM colour_history WHERE number = ?))");
  if (!set || !drop) return false;
  for (int i = 0; i < 3; ++i) set.integer(1 + i, last.columnInt(1 + i));
  set.integer(4, number);
  drop.integer(1, number);
  drop.integer(2, last.columnInt(0));
  drop.integer(3, number);
  if (set.step() != SQLITE_DONE || drop.step() != SQLITE_DONE) return false;
  undone = true;
  return t.commit();
}

bool changePassword(int number, const std::string& hash, const std::string& keepToken) {
  Transaction t;
  if (!t.open) return false;
  Statement q("UPDATE members SET password = ? WHERE number = ?");
  Statement s("DELETE FROM sessions WHERE number = ? AND token != ?");
  if (!q || !s) return false;
  q.text(1, hash);
  q.integer(2, number);
  if (q.step() != SQLITE_DONE || sqlite3_changes(db()) != 1) return false;
  s.integer(1, number);
  s.text(2, keepToken.empty() ? std::string() : tokenDigest(keepToken));
  if (s.step() != SQLITE_DONE) return false;
  return t.commit();
}

Found loadPasswordHash(int number, std::string& hash) {
  Statement q("SELECT password FROM members WHERE number = ?");
  if (!q) return Found::Error;
  q.integer(1, number);
  const int rc = q.step();
  if (rc == SQLITE_DONE) return Found::No;
  if (rc != SQLITE_ROW) return Found::Error;
  hash = q.columnText(0);
  return Found::Yes;
}

bool removeMember(int number, bool& found) {
  Transaction t;
  if (!t.open) return false;
  Statement q("DELETE FROM members WHERE number = ?");
  Statement s("DELETE FROM sessions WHERE number = ?");
  if (!q || !s) return false;
  q.integer(1, number);
  s.integer(1, number);
  if (q.step() != SQLITE_DONE) return false;
  found = sqlite3_changes(db()) == 1;
  if (s.step() != SQLITE_DONE) return false;
  return t.commit();
}

bool listMembers(std::vector<MemberLine>& out) {
  Statement q((std::string("SELECT number, ") + kProfileColumns + ", password != '' FROM members ORDER BY number").c_str());
  if (!q) return false;
  int rc;
  while ((rc = q.step()) == SQLITE_ROW) {
    MemberLine line;
    line.number = static_cast<int>(q.columnInt(0));
    readProfile(q, 1, line.profile);
    line.hasPassword = q.columnInt(12) != 0;
    out.push_back(std::move(line));
  }
  return rc == SQLITE_DONE;
}

bool saveShare(int channel, const std::string& png, const std::string& thumb, std::string_view name) {
  Transaction t;
  if (!t.open) return false;
  Statement q("INSERT OR REPLACE INTO shares (channel, picture, thumb, name, stamp) VALUES (?, ?, ?, ?, ?)");
  if (!q) return false;
  q.integer(1, channel);
  q.blob(2, png);
  q.blob(3, thumb);
  q.text(4, name);
  q.integer(5, static_cast<long long>(std::time(nullptr)));
  if (q.step() != SQLITE_DONE) return false;
  return t.commit();
}

Found loadShare(int channel, int which, std::string& png, std::string* name) {
  Statement q(which == 2 ? "SELECT thumb, name FROM shares WHERE channel = ?"
                         : "SELECT picture, name FROM shares WHERE channel = ?");
  if (!q) return Found::Error;
  q.integer(1, channel);
  const int rc = q.step();
  if (rc == SQLITE_DONE) return Found::No;
  if (rc != SQLITE_ROW) return Found::Error;
  png = q.columnBlob(0);
  if (name) *name = q.columnText(1);
  return Found::Yes;
}

bool createSession(int number, std::string& token, std::string& formKey) {
  token = randomHex(32);
  formKey = randomHex(16);
  if (token.empty() || formKey.empty()) return false;
  Transaction t;
  if (!t.open) return false;
  const long long now = static_cast<long long>(std::time(nullptr));
  Statement purge("DELETE FROM sessions WHERE expires < ?");
  Statement q("INSERT INTO sessions (token, number, formkey, expires) VALUES (?, ?, ?, ?)");
  if (!purge || !q) return false;
  purge.integer(1, now);
  purge.step();
  q.text(1, tokenDigest(token));
  q.integer(2, number);
  q.text(3, formKey);
  q.integer(4, now + kSessionSeconds);
  if (q.step() != SQLITE_DONE) return false;
  return t.commit();
}

Found loadSession(const std::string& token, int& number, std::string& formKey) {
  Statement q("SELECT number, formkey FROM sessions WHERE token = ? AND expires >= ?");
  if (!q) return Found::Error;
  q.text(1, tokenDigest(token));
  q.integer(2, static_cast<long long>(std::time(nullptr)));
  const int rc = q.step();
  if (rc == SQLITE_DONE) return Found::No;
  if (rc != SQLITE_ROW) return Found::Error;
  number = static_cast<int>(q.columnInt(0));
  formKey = q.columnText(1);
  return Found::Yes;
}

void dropSession(const std::string& token) {
  Statement q("DELETE FROM sessions WHERE token = ?");
  if (!q) return;
  q.text(1, tokenDigest(token));
  q.step();
}

std::string randomHex(int bytes) {
  unsigned char buffer[64];
  if (bytes > 64 || RAND_bytes(buffer, bytes) != 1) return {};
  std::string out;
  char two[3];
  for (int i = 0; i < bytes; ++i) {
    std::snprintf(two, sizeof two, "%02x", buffer[i]);
    out += two;
  }
  return out;
}

namespace {
// Hashes made before Argon2id; they still verify, and a good sign-in
// replaces them.
std::string pbkdf2(std::string_view password, std::string_view salt, int rounds) {
  unsigned char key[32];
  if (PKCS5_PBKDF2_HMAC(password.data(), static_cast<int>(password.size()),
                        reinterpret_cast<const unsigned char*>(salt.data()), static_cast<int>(salt.size()),
                        rounds, EVP_sha256(), sizeof key, key) != 1)
    return {};
  std::string out;
  char two[3];
  for (unsigned char b : key) {
    std::snprintf(two, sizeof two, "%02x", b);
    out += two;
  }
  return out;
}

bool isArgon2id(const std::string& hash) { return hash.rfind("$argon2id$", 0) == 0; }

// libsodium's interactive cost: 64 MiB and a few tens of milliseconds per
// hash; the sign-in guard bounds how many run at once.
constexpr unsigned long long kHashOps = crypto_pwhash_OPSLIMIT_INTERACTIVE;
constexpr std::size_t kHashMemory = crypto_pwhash_MEMLIMIT_INTERACTIVE;
}  // namespace

std::string hashPassword(std::string_view password) {
  char out[crypto_pwhash_STRBYTES];
  if (crypto_pwhash_str(out, password.data(), password.size(), kHashOps, kHashMemory) != 0) return {};
  return out;
}

bool checkPassword(std::string_view password, const std::string& hash) {
  if (isArgon2id(hash))
    return hash.size() < crypto_pwhash_STRBYTES &&
           crypto_pwhash_str_verify(hash.c_str(), password.data(), password.size()) == 0;
  char salt[64], key[80];
  int rounds = 0;
  if (std::sscanf(hash.c_str(), "pbkdf2-sha256$%d$%63[0-9a-f]$%79[0-9a-f]", &rounds, salt, key) != 3 ||
      rounds < 1 || rounds > 10'000'000)
    return false;
  const std::string computed = pbkdf2(password, salt, rounds);
  return computed.size() == std::strlen(key) &&
         CRYPTO_memcmp(computed.data(), key, computed.size()) == 0;
}

bool passwordNeedsRehash(const std::string& hash) {
  return !isArgon2id(hash) || crypto_pwhash_str_needs_rehash(hash.c_str(), kHashOps, kHashMemory) != 0;
}

}  // namespace webhost
