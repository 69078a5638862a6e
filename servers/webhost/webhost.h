// orva-webhost: the members' profiles, pictures and the shared-picture board
// over HTTPS, from one SQLite database in a data folder.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/protocol.h"

struct sqlite3;

namespace httplib {
class Server;
struct Request;
struct Response;
}

namespace webhost {

// ---- Profile fields -----------------------------------------------------------
// Each field ends up in a fixed buffer of the client (terminator included);
// a value whose text in the XML does not fit is dropped whole there, so the
// host refuses it when it is stored instead.
enum Field { Prenom, Ville, Phrase, Jour, Email, Folder, kFieldCount };
inline constexpr const char* kFieldElements[kFieldCount] = {"PRENOM", "VILLE", "PHRASE",
                                                            "JOUR",   "EMAIL", "FOLDER"};
inline constexpr std::size_t kFieldBytes[kFieldCount] = {64, 64, 128, 64, 128, 64};

struct Profile {
  std::string field[kFieldCount];
  std::uint8_t red = 0, green = 0, blue = 0;
  // The member's own choices on the member page. client.xml is public for
  // every number, so the e-mail address goes in it only when asked; a locked
  // colour is kept whatever params.php is sent (it carries no credential).
  bool emailPublic = false;
  bool colourLocked = false;
};

// The text of a value as the XML carries it: é becomes "&#xE9;", the one
// entity the client turns back into UTF-8; every other byte as it stands.
std::string xmlValue(std::string_view value);
// Empty when the value can be stored in that field, else a French reason.
std::string checkFieldValue(Field field, std::string_view value);
std::string clientXml(const Profile& profile);
std::string paramsXml(const Profile& profile);
// "RRGGBB" (red first, as people write colours) or "#RRGGBB".
bool parseRgb(std::string_view text, std::uint8_t& red, std::uint8_t& green, std::uint8_t& blue);
std::string rgbText(std::uint8_t red, std::uint8_t green, std::uint8_t blue);
std::string htmlEscape(std::string_view text);
// 1..65535 written in plain decimal digits; 0 for anything else.
int parseMemberNumber(std::string_view text);
// 0..10 in plain decimal digits; -1 for anything else.
int parseChannel(std::string_view text);

// ---- Pictures -------------------------------------------------------------------
struct Image {
  int width = 0, height = 0;
  std::vector<std::uint8_t> rgb;   // width * height * 3
};
// Grid portrait (images.php?N=1), drawn stretched into 66 x 83 cells.
inline constexpr int kSmallWidth = 66, kSmallHeight = 83;
// Talker picture (N=2), drawn unscaled at (10, 340) of the panel with a
// one-pixel frame: it must stay clear of the phrase band at y 620 and of
// the animation at x 350.
inline constexpr int kLargeWidth = 200, kLargeHeight = 252;
// Shared pictures are kept within this box; the board scales them anyway.
inline constexpr int kShareMaxSide = 1600;
inline constexpr int kShareThumbSide = 200;
// Anything larger is refused before it is decoded.
inline constexpr int kMaxDecodeSide = 12000;
inline constexpr long kMaxDecodePixels = 25'000'000;   // a 24-megapixel photograph

// PNG, JPEG, GIF (first frame) or uncompressed BMP; transparency over black.
// Decoded in a confined child process (decoderChild), error in French.
bool decodePicture(std::span<const std::uint8_t> bytes, Image& out, std::string& error);
enum class DecodeResult { Ok, Unknown, TooLarge, Unreadable };
// The same decoders in this process, for the child and the fuzz target.
DecodeResult decodePictureInProcess(std::span<const std::uint8_t> bytes, Image& out);
// orva-webhost --decode-picture: the child's main; never returns.
inline constexpr const char* kDecoderArgument = "--decode-picture";
[[noreturn]] int decoderChild();
Image coverResize(const Image& in, int width, int height);   // centre crop, then scale
Image fitWithin(const Image& in, int maxWidth, int maxHeight);  // never enlarges
std::string encodePng(const Image& image);
// A head-and-shoulders silhouette on the member's colour, for members
// without a picture.
Image generatedPortrait(int number, std::uint8_t red, std::uint8_t green, std::uint8_t blue);
bool isPng(std::string_view bytes);

// ---- Store ----------------------------------------------------------------------
enum class Found { Yes, No, Error };

// Opens (and creates) <dir>/webhost.db; every thread then gets its own connection.
bool openStore(const std::string& dataDir, std::string& error);
Found loadProfile(int number, Profile& out);
// which: 1 small, 2 large.
Found loadPortrait(int number, int which, std::string& png);
// Adds (create) or replaces (not create) a member in one transaction; the
// pictures are replaced only when given.
enum class SaveResult { Ok, Exists, Missing, Error };
SaveResult saveMember(int number, const Profile& profile, bool create, const std::string* small,
                      const std::string* large);
bool saveBackground(int number, std::uint8_t red, std::uint8_t green, std::uint8_t blue,
                    bool& found);
// Goes back to the newest colour of the history (colourHistory) and drops
// it from there; undone is false when there was none.
bool undoBackground(int number, bool& undone);
bool savePasswordHash(int number, const std::string& hash);
// Stores a new hash and ends every session of the member but keepToken's
// (none kept when it is empty).
bool changePassword(int number, const std::string& hash, const std::string& keepToken = {});
Found loadPasswordHash(int number, std::string& hash);
bool removeMember(int number, bool& found);
struct MemberLine {
  int number;
  Profile profile;
  bool hasPassword;
};
bool listMembers(std::vector<MemberLine>& out);

bool saveShare(int channel, const std::string& png, const std::string& thumb, std::string_view name);
// which: 1 the picture, 2 the thumbnail.
Found loadShare(int channel, int which, std::string& png, std::string* name = nullptr);

// Sessions of the member page: a random token in a cookie, a second random
// value in every form.
bool createSession(int number, std::string& token, std::string& formKey);
Found loadSession(const std::string& token, int& number, std::string& formKey);
void dropSession(const std::string& token);

// Argon2id in libsodium's string form; older PBKDF2 hashes still check.
std::string hashPassword(std::string_view password);
bool checkPassword(std::string_view password, const std::string& hash);
// True for a hash older or cheaper than what hashPassword makes today.
bool passwordNeedsRehash(const std::string& hash);
std::string randomHex(int bytes);

// ---- HTTP ----------------------------------------------------------------------
struct Options {
  std::string dataDir = "webhost-data";
  std::string bind = "0.0.0.0";
  int port = 443;
  std::string cert, key;
  // The reverse proxy's address: only a connection from it may name the
  // client in X-Real-IP. Empty: the TCP peer is always the client.
  std::string front;
  std::string relayCtl;   // the relay's control socket, for the console; empty: no relay
};
const Options& options();

// The client's address, as every limit and log line counts it.
std::string clientAddress(const httplib::Request& req);
// Answers what must not reach a route before any of its body is read: a
// body without a length, a length past the route's bound, unknown methods;
// and drops a Range header asking for more than one range.
void addRequestGuards(httplib::Server& server);
// The largest body any route takes, for the library's own bound.
std::size_t largestBody();
// Limits on what the client's unauthenticated posts may do per hour; false
// (answer 429) once a limit is reached. Counted before any work is done.
bool allowColourPost(int number, const std::string& address);
bool allowUpload(int channel, const std::string& address);
void countUpload(int channel);   // a picture stored on the channel
void addClientRoutes(httplib::Server& server);
void addPageRoutes(httplib::Server& server);

// Makes both portrait sizes from any common picture format.
bool makePortraits(std::span<const std::uint8_t> bytes, std::string& small, std::string& large,
                   std::string& error);

// One line on stderr; control characters of the values become \xNN, so a
// request cannot forge a line of its own.
void logLine(const char* format, ...) __attribute__((format(printf, 1, 2)));

// ---- Request texts ----------------------------------------------------------------
std::string escapeLogText(std::string_view text);
// The client sends file names in the Windows ANSI code page. False for a
// control character or a byte the code page leaves undefined.
bool cp1252ToUtf8(std::string_view text, std::string& out);
// One character of the Basic Multilingual Plane, in UTF-8.
void appendUtf8(std::string& out, char16_t c);
// "bytes=A-B", "bytes=A-" or "bytes=-N": one well-formed range.
bool isSingleRange(std::string_view header);
// What the limits count a client address as: an IPv4 address alone, an
// IPv6 address by its /64 (one subscriber's network, whose lower half they
// change at will).
std::string addressGroup(std::string_view address);
// Page helpers of pages.cpp, shared with the console: every HTML answer goes
// through sendPage (its security headers and no-store).
std::string utf8(const wchar_t* text);
void sendPage(httplib::Response& res, std::string_view title, std::string_view body, int status = 200);
void redirect(httplib::Response& res, const std::string& to);
std::string cookieValue(const httplib::Request& req, std::string_view name);

// ---- Operator's console (console*.cpp, activity.cpp, store_console.cpp) ------------------
sqlite3* storeDatabase();   // this thread's connection
bool applyConsoleSchema(sqlite3* db, std::string& error);

SaveResult addOperator(const std::string& name, const std::string& hash);
bool removeOperator(const std::string& name, bool& found);
bool listOperators(std::vector<std::string>& out);
Found loadOperatorHash(const std::string& name, std::string& hash);
// The store keeps only a digest of the token.
bool createOperatorSession(const std::string& name, std::string& token, std::string& formKey);
Found loadOperatorSession(const std::string& token, std::string& name, std::string& formKey);
void dropOperatorSession(const std::string& token);
// 1..32 letters, digits, '.', '-', '_'.
bool validOperatorName(std::string_view name);
int operatorCommand(int argc, char** argv);
// One line from standard input, not echoed when it is a terminal (the
// prompt then goes to stderr); 1 to 1023 bytes.
bool readPassword(const char* prompt, std::string& out);

struct AuditLine {
  long long stamp;
  std::string who, what;
};
bool addAudit(const std::string& who, std::string_view what);
bool loadAudit(int offset, int limit, std::vector<AuditLine>& out, int& total);   // newest first

bool searchMembers(std::string_view query, int offset, int limit, std::vector<MemberLine>& out, int& total);
Found shareExists(int channel);
bool removeShare(int channel, bool& found);

// The colour lock refuses the client's colour record (params.php) for that
// member; every colour change leaves the replaced colour in the history
// (20 kept per member).
struct ColourEntry {
  long long id, stamp;
  std::uint8_t red, green, blue;
};
Found colourLocked(int number, bool& locked);
bool setColourLocked(int number, bool locked, bool& found);
bool colourHistory(int number, std::vector<ColourEntry>& out);   // newest first
bool restoreColour(int number, long long entry, ColourEntry& restored, bool& found);

// The relay, read through its control socket.
struct RelayChannel {
  int members = 0;
  int talker = 0;   // 0: nobody holds the floor
  unsigned long long voiceBlocks = 0;
  std::vector<int> accounts;
};
struct RelayView {
  long long load = 0;
  int capacity = 0, pace = 0, members = 0;
  std::string minVersion;
  RelayChannel channel[proto::kChannelCount];
  std::vector<std::pair<std::string, unsigned long long>> counters;
};
// One command, one reply (at most 1 MB, 2 s); false with a French reason.
bool relayCommand(const std::string& command, std::string& reply, std::string& error);
bool parseRelayChannels(std::string_view text, RelayView& out);
// Answers within half a second may be shared between callers.
bool readRelay(RelayView& out, std::string& error);
void forgetRelayView();   // after a command that changes what the relay answers

struct ActivitySample {
  int channel, members;
  long long talkMs;
};
struct ActivityRow {
  long long stamp;
  int channel, members;
  long long talkMs;
};
bool saveActivity(long long stamp, const ActivitySample* samples, int count);   // drops rows past 30 days
bool loadActivity(long long since, std::vector<ActivityRow>& out);
// Talk time of all channels per hour (stamp of the hour, ms).
bool loadHourlyTalk(long long since, std::vector<std::pair<long long, long long>>& out);
void startActivitySampler();
// Per channel: members present and talk time over the last 24 h, and the
// busiest hours of the week, as inline SVG.
std::string activityHtml(long long now);

void addConsoleRoutes(httplib::Server& server);

}  // namespace webhost
