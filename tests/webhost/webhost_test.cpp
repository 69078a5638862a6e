// The real orva-webhost on a free loopback port, asked over HTTPS with the
// certificate validated against the local CA, the way Orva-Lin asks: raw
// records declared as multipart/form-data with no boundary.
#include <arpa/inet.h>
#include <httplib.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <signal.h>
#include <spawn.h>
#include <sqlite3.h>
#include <stb_image.h>
#include <stb_image_write.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <thread>

#include "Orva-Lin/web/records.h"

extern char** environ;

namespace {

const std::string kTls = ORVA_TLS_DIR;
constexpr const char* kRaw = "multipart/form-data";

std::string tempDir() {
  char path[] = "/tmp/webhost-test-XXXXXX";
  return mkdtemp(path) ? path : "";
}

// Runs the binary with args and input on its stdin; returns its exit code,
// its stdout in out.
int runHost(const std::vector<std::string>& args, std::string* out = nullptr, const std::string& input = {}) {
  int pipeFd[2], inFd[2];
  if (pipe(pipeFd) != 0 || pipe(inFd) != 0) return -1;
  std::vector<char*> argv{const_cast<char*>(ORVA_WEBHOST_BIN)};
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeFd[1], 1);
  posix_spawn_file_actions_addclose(&actions, pipeFd[0]);
  posix_spawn_file_actions_adddup2(&actions, inFd[0], 0);
  posix_spawn_file_actions_addclose(&actions, inFd[1]);
  pid_t pid = -1;
  const int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(pipeFd[1]);
  close(inFd[0]);
  if (!input.empty() && write(inFd[1], input.data(), input.size()) < 0) input.size();
  close(inFd[1]);
  char buffer[4096];
  ssize_t n;
  std::string text;
  while ((n = read(pipeFd[0], buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<std::size_t>(n));
  close(pipeFd[0]);
  if (out) *out = text;
  if (rc != 0) return -1;
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

struct Host {
  std::string dir;
  std::vector<std::string> extra;   // more options for the server
  pid_t pid = -1;
  int port = 0;

  bool start() {
    int pipeFd[2];
    if (pipe(pipeFd) != 0) return false;
    const std::string log = dir + "/host.log";
    std::vector<std::string> args = {ORVA_WEBHOST_BIN, "--data", dir, "--bind", "127.0.0.1", "--port", "0",
                                     "--cert", kTls + "/localhost.pem", "--key", kTls + "/localhost.key"};
    args.insert(args.end(), extra.begin(), extra.end());
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFd[1], 1);
    posix_spawn_file_actions_addclose(&actions, pipeFd[0]);
    posix_spawn_file_actions_addopen(&actions, 2, log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    const int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(pipeFd[1]);
    if (rc != 0) return close(pipeFd[0]), false;
    FILE* out = fdopen(pipeFd[0], "r");
    char line[128] = {};
    const bool ready = std::fgets(line, sizeof line, out) && std::sscanf(line, "listening on 127.0.0.1:%d", &port) == 1;
    std::fclose(out);
    return ready;
  }
  void kill(int signal) {
    if (pid <= 0) return;
    ::kill(pid, signal);
    waitpid(pid, nullptr, 0);
    pid = -1;
  }
  ~Host() { kill(SIGTERM); }

  std::unique_ptr<httplib::SSLClient> client() const {
    auto c = std::make_unique<httplib::SSLClient>("localhost", port);
    c->set_ca_cert_path((kTls + "/ca.pem").c_str());
    c->enable_server_certificate_verification(true);
    c->set_read_timeout(30);
    c->set_write_timeout(30);
    return c;
  }
  // Status of a GET, -1 when no answer came; body in out.
  int get(const std::string& path, std::string* body = nullptr) const {
    auto r = client()->Get(path.c_str());
    if (!r) return -1;
    if (body) *body = r->body;
    return r->status;
  }
  int post(const std::string& path, const std::string& body, std::string* reply = nullptr) const {
    auto r = client()->Post(path.c_str(), body, kRaw);
    if (!r) return -1;
    if (reply) *reply = r->body;
    return r->status;
  }
  int member(std::vector<std::string> args, std::string* out = nullptr, const std::string& input = {}) const {
    args.insert(args.begin(), {"--data", dir, "member"});
    return runHost(args, out, input);
  }
  // A sign-in from the member page's form; the session cookie in cookie.
  int signIn(const std::string& number, const std::string& password, const std::string& realIp = {},
             std::string* cookie = nullptr) const {
    httplib::Headers headers;
    if (!realIp.empty()) headers.emplace("X-Real-IP", realIp);
    auto r = client()->Post("/membre/connexion", headers, "numero=" + number + "&motdepasse=" + password,
                            "application/x-www-form-urlencoded");
    if (!r) return -1;
    if (cookie) cookie->assign(r->get_header_value("Set-Cookie").substr(0, r->get_header_value("Set-Cookie").find(';')));
    return r->status;
  }
  int getWith(const std::string& path, const httplib::Headers& headers, std::string* body = nullptr) const {
    auto r = client()->Get(path.c_str(), headers);
    if (!r) return -1;
    if (body) *body = r->body;
    return r->status;
  }
  // Password checks the host logged, one line each, for lines holding what.
  int checks(const std::string& what) const {
    std::ifstream log(dir + "/host.log");
    int n = 0;
    for (std::string line; std::getline(log, line);)
      n += line.find("password check: member " + what) != std::string::npos;
    return n;
  }
  // The first column of the first row of a query on the store.
  std::string stored(const std::string& sql) const {
    sqlite3* db = nullptr;
    sqlite3_stmt* q = nullptr;
    std::string value = "?none";
    if (sqlite3_open_v2((dir + "/webhost.db").c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK &&
        sqlite3_prepare_v2(db, sql.c_str(), -1, &q, nullptr) == SQLITE_OK && sqlite3_step(q) == SQLITE_ROW &&
        sqlite3_column_text(q, 0))
      value = reinterpret_cast<const char*>(sqlite3_column_text(q, 0));
    sqlite3_finalize(q);
    sqlite3_close(db);
    return value;
  }
};

// Sends a raw request head over a new TLS connection and returns the first
// bytes that come back within `seconds` ("" when none: closed or silent).
std::string rawExchange(int port, const std::string& head, int seconds) {
  SSL_CTX* ctx = SSL_CTX_new(TLS_client_method());
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  inet_pton(AF_INET, "127.0.0.1", &address.sin_addr);
  timeval wait{seconds, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
  std::string reply;
  SSL* ssl = SSL_new(ctx);
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 && SSL_set_fd(ssl, fd) == 1 &&
      SSL_connect(ssl) == 1 && SSL_write(ssl, head.data(), static_cast<int>(head.size())) > 0) {
    char buffer[512];
    const int n = SSL_read(ssl, buffer, sizeof buffer);
    if (n > 0) reply.assign(buffer, static_cast<std::size_t>(n));
  }
  SSL_free(ssl);
  close(fd);
  SSL_CTX_free(ctx);
  return reply;
}

class WebHost : public ::testing::Test {
 protected:
  Host host;
  void SetUp() override {
    signal(SIGPIPE, SIG_IGN);   // a host killed mid-request must fail the request, not the test
    ASSERT_TRUE(std::ifstream(kTls + "/ca.pem").good()) << "no local CA: run ./orva certs";
    host.dir = tempDir();
    ASSERT_EQ(host.member({"add", "7", "--prenom", "Zoé", "--ville", "Besançon", "--phrase", "Bonne journée",
                           "--email", "zoe@example.org", "--background", "102030", "--password"},
                          nullptr, "secret\n"),
              0);
    ASSERT_TRUE(host.start());
  }
  void TearDown() override {
    host.kill(SIGTERM);
    std::system(("rm -rf " + host.dir).c_str());
  }
};

// ---- What the client does with a body ---------------------------------------------
// The first "<NAME>" and the next "</NAME>"; empty when missing or when the text
// would not fit a field of `size` bytes; then "&#xE9;" becomes é.
std::string extract(const std::string& body, const std::string& name, std::size_t size) {
  const auto open = body.find("<" + name + ">");
  if (open == std::string::npos) return "?missing";
  const auto start = open + name.size() + 2;
  const auto close = body.find("</" + name + ">", start);
  if (close == std::string::npos || close - start >= size) return "?dropped";
  std::string value = body.substr(start, close - start);
  for (std::size_t at; (at = value.find("&#xE9;")) != std::string::npos;) value.replace(at, 6, "\xC3\xA9");
  return value;
}

struct PngSize {
  int width = 0, height = 0;
};
PngSize pngSize(const std::string& png) {
  int w = 0, h = 0, c = 0;
  if (png.size() < 8 || png.compare(0, 4, "\x89PNG") != 0 ||
      !stbi_info_from_memory(reinterpret_cast<const stbi_uc*>(png.data()), static_cast<int>(png.size()), &w, &h, &c))
    return {};
  return {w, h};
}

std::string picture(int width, int height, const char* format, std::uint8_t shade = 90) {
  std::vector<std::uint8_t> rgb(static_cast<std::size_t>(width) * height * 3, shade);
  for (std::size_t i = 0; i < rgb.size(); i += 7) rgb[i] = static_cast<std::uint8_t>(i);
  std::string out;
  auto sink = [](void* ctx, void* data, int size) { static_cast<std::string*>(ctx)->append(static_cast<char*>(data), static_cast<std::size_t>(size)); };
  if (!std::strcmp(format, "png")) stbi_write_png_to_func(sink, &out, width, height, 3, rgb.data(), width * 3);
  else if (!std::strcmp(format, "jpg")) stbi_write_jpg_to_func(sink, &out, width, height, 3, rgb.data(), 90);
  else stbi_write_bmp_to_func(sink, &out, width, height, 3, rgb.data());
  return out;
}

std::string colourRecord(int tag, int r, int g, int b, int account) {
  std::int32_t v[5] = {tag, r, g, b, account};
  return std::string(reinterpret_cast<const char*>(v), sizeof v);
}

std::string uploadRecord(const std::string& content, const std::string& name, int channel) {
  std::string record(web::kUploadRecordSize, '\0');
  auto* bytes = reinterpret_cast<std::uint8_t*>(record.data());
  web::buildUploadRecord({bytes, record.size()}, {reinterpret_cast<const std::uint8_t*>(content.data()), content.size()},
                         name, channel);
  return record;
}

// ---- Routes ----------------------------------------------------------------------------
TEST_F(WebHost, ClientXmlAndParamsXmlReadRightWithTheClientsTagSearch) {
  std::string xml;
  ASSERT_EQ(host.get("/users/7/client.xml", &xml), 200);
  const struct {
    const char* element;
    std::size_t size;
    std::string expected;
  } fields[] = {{"PRENOM", 64, "Zoé"},           {"VILLE", 64, "Besançon"},
                {"PHRASE", 128, "Bonne journée"}, {"EMAIL", 128, ""},   // until the member publishes it
                {"FOLDER", 64, "7"}};
  for (const auto& f : fields) EXPECT_EQ(extract(xml, f.element, f.size), f.expected) << f.element;
  EXPECT_EQ(extract(xml, "JOUR", 64).size(), 10u);   // dd/mm/yyyy of the day it was added

  ASSERT_EQ(host.get("/users/7/params.xml", &xml), 200);
  // Red 0x10, green 0x20, blue 0x30: the client reads base 16 into a
  // Windows colour value, red in the low byte.
  EXPECT_EQ(std::strtol(extract(xml, "BACKGROUND", 64).c_str(), nullptr, 16), 0x302010);
}

TEST_F(WebHost, PortraitsArePngsOfTheSizesTheClientDraws) {
  std::string png;
  ASSERT_EQ(host.get("/users/7/images.php?N=1", &png), 200);
  EXPECT_EQ(pngSize(png).width, 66);
  EXPECT_EQ(pngSize(png).height, 83);
  ASSERT_EQ(host.get("/users/7/images.php?N=2", &png), 200);
  EXPECT_EQ(pngSize(png).width, 200);
  EXPECT_EQ(pngSize(png).height, 252);
}

TEST_F(WebHost, HostileGetsAreRefusedAndNothingOutsideTheRoutesIsServed) {
  const struct {
    const char* path;
    int status;
  } cases[] = {
      {"/users/8/client.xml", 404},         {"/users/8/params.xml", 404},
      {"/users/8/images.php?N=2", 404},     {"/users/0/client.xml", 404},
      {"/users/65536/client.xml", 400},     {"/users/-7/client.xml", 400},
      {"/users/7a/client.xml", 400},        {"/users/0x7/params.xml", 400},
      {"/users/99999999999999999999/client.xml", 400},
      {"/users//client.xml", 400},          {"/users/7/images.php", 400},
      {"/users/7/images.php?N=3", 400},     {"/users/7/images.php?N=1&N=2", 400},
      {"/users/7/images.php?N=01", 400},    {"/users/7/../7/client.xml", 404},
      {"/users/..%2F..%2Fwebhost.db/client.xml", 404},
      {"/webhost.db", 404},                 {"/echange/../webhost.db", 404},
      {"/telechargement/..%2Fwebhost.db", 404},
      {"/echange/pc_img_share_get.php?F=3&N=1", 404},
      {"/echange/pc_img_share_get.php?F=0&N=1", 404},
      {"/echange/pc_img_share_get.php?F=11&N=1", 400},
      {"/echange/pc_img_share_get.php?F=-1&N=1", 400},
      {"/echange/pc_img_share_get.php?F=&N=1", 400},
      {"/echange/pc_img_share_get.php?N=1", 400},
      {"/echange/pc_img_share_get.php?F=3&N=9", 400},
      {"/echange/canal.php?F=12", 400},
  };
  for (const auto& c : cases) EXPECT_EQ(host.get(c.path), c.status) << c.path;
}

TEST_F(WebHost, ColourRecordUpdatesTheBackgroundAndBadOnesChangeNothing) {
  std::string xml;
  ASSERT_EQ(host.post("/users/7/params.php", colourRecord(1, 255, 0, 0, 7)), 200);
  ASSERT_EQ(host.get("/users/7/params.xml", &xml), 200);
  EXPECT_EQ(extract(xml, "BACKGROUND", 64), "0000FF");

  const struct {
    const char* what;
    const char* path;
    std::string body;
    int status;
  } cases[] = {
      {"empty", "/users/7/params.php", "", 400},
      {"19 bytes", "/users/7/params.php", colourRecord(1, 0, 255, 0, 7).substr(0, 19), 400},
      {"21 bytes", "/users/7/params.php", colourRecord(1, 0, 255, 0, 7) + "x", 413},
      {"a megabyte", "/users/7/params.php", std::string(1 << 20, 'x'), 413},
      {"tag 2", "/users/7/params.php", colourRecord(2, 0, 255, 0, 7), 400},
      {"green 256", "/users/7/params.php", colourRecord(1, 0, 256, 0, 7), 400},
      {"blue -1", "/users/7/params.php", colourRecord(1, 0, 0, -1, 7), 400},
      {"someone else's number", "/users/7/params.php", colourRecord(1, 0, 255, 0, 8), 400},
      {"unknown member", "/users/8/params.php", colourRecord(1, 0, 255, 0, 8), 404},
      {"bad number", "/users/x/params.php", colourRecord(1, 0, 255, 0, 7), 400},
  };
  for (const auto& c : cases) EXPECT_EQ(host.post(c.path, c.body), c.status) << c.what;
  ASSERT_EQ(host.get("/users/7/params.xml", &xml), 200);
  EXPECT_EQ(extract(xml, "BACKGROUND", 64), "0000FF");
}

TEST_F(WebHost, UploadRecordReplacesTheChannelPictureAndBadOnesKeepIt) {
  ASSERT_EQ(host.post("/echange/pc_img_share_post.php", uploadRecord(picture(320, 240, "jpg"), "vacances.jpg", 3)), 200);
  std::string before, thumb;
  ASSERT_EQ(host.get("/echange/pc_img_share_get.php?F=3&N=1", &before), 200);
  EXPECT_EQ(pngSize(before).width, 320);
  EXPECT_EQ(pngSize(before).height, 240);
  ASSERT_EQ(host.get("/echange/pc_img_share_get.php?F=3&N=2", &thumb), 200);
  EXPECT_EQ(pngSize(thumb).width, 200);
  EXPECT_EQ(host.get("/echange/pc_img_share_get.php?F=4&N=1"), 404);   // each channel its own

  const std::string good = uploadRecord(picture(64, 64, "png"), "chat.png", 3);
  auto patched = [&](std::size_t at, std::int32_t value) {
    std::string r = good;
    std::memcpy(r.data() + at, &value, 4);
    return r;
  };
  std::string badName = good;
  std::memcpy(badName.data() + web::kUploadNameOffset, "../x.png", 8);
  // A PNG header that claims 100000 x 100000 pixels.
  std::string huge = picture(8, 8, "png");
  const unsigned char side[4] = {0x00, 0x01, 0x86, 0xA0};
  std::memcpy(huge.data() + 16, side, 4);
  std::memcpy(huge.data() + 20, side, 4);
  const struct {
    const char* what;
    std::string body;
    int status;
  } cases[] = {
      {"truncated", good.substr(0, 5'000'000), 400},
      {"one byte short", good.substr(0, good.size() - 1), 400},
      {"one byte over", good + "x", 413},
      {"11 MB", good + std::string(1'000'000, 'x'), 413},
      {"fileSize 10000000", patched(web::kUploadFileSizeOffset, 10'000'000), 400},
      {"fileSize 0", patched(web::kUploadFileSizeOffset, 0), 400},
      {"fileSize -1", patched(web::kUploadFileSizeOffset, -1), 400},
      {"name length wrong", patched(web::kUploadNameLengthOffset, 200), 400},
      {"channel 11", patched(web::kUploadChannelOffset, 11), 400},
      {"channel 0, which has no picture", patched(web::kUploadChannelOffset, 0), 400},
      {"name with a control character", uploadRecord(picture(8, 8, "png"), "a\x01.png", 3), 400},
      {"name with a byte Windows-1252 lacks", uploadRecord(picture(8, 8, "png"), "a\x81.png", 3), 400},
      {"path in the name", badName, 400},
      {"not a picture", uploadRecord(std::string(5000, 'z'), "notes.png", 3), 415},
      {"huge dimensions", uploadRecord(huge, "bomb.png", 3), 415},
  };
  for (const auto& c : cases) EXPECT_EQ(host.post("/echange/pc_img_share_post.php", c.body), c.status) << c.what;
  std::string after;
  ASSERT_EQ(host.get("/echange/pc_img_share_get.php?F=3&N=1", &after), 200);
  EXPECT_EQ(after, before);
  EXPECT_EQ(host.get("/echange/pc_img_share_get.php?F=0&N=1"), 404);

  // The client names files in Windows-1252; the board shows them in UTF-8.
  ASSERT_EQ(host.post("/echange/pc_img_share_post.php", uploadRecord(picture(30, 20, "png"), "photo-\xE9t\xE9.png", 3)), 200);
  std::string html;
  ASSERT_EQ(host.get("/echange/canal.php?F=3", &html), 200);
  EXPECT_NE(html.find("photo-été.png"), std::string::npos);
}

TEST_F(WebHost, RequestsThatWouldHoldAWorkerAreAnsweredAtOnce) {
  const struct {
    const char* what;
    std::string head;
    const char* status;
  } cases[] = {
      {"PUT without a length", "PUT /users/7/params.php HTTP/1.1\r\nHost: localhost\r\n\r\n", "411"},
      {"PATCH without a length", "PATCH /users/7/params.php HTTP/1.1\r\nHost: localhost\r\n\r\n", "411"},
      {"POST without a length", "POST /echange/pc_img_share_post.php HTTP/1.1\r\nHost: localhost\r\n\r\n", "411"},
      {"chunked POST", "POST /users/7/params.php HTTP/1.1\r\nHost: localhost\r\nTransfer-Encoding: chunked\r\n\r\n", "411"},
      {"100 MB announced", "POST /echange/pc_img_share_post.php HTTP/1.1\r\nHost: localhost\r\nContent-Length: 100000000\r\n\r\n", "413"},
      {"sign-in form of 1 MB", "POST /membre/connexion HTTP/1.1\r\nHost: localhost\r\nContent-Length: 1000000\r\n\r\n", "413"},
      {"PUT with a length", "PUT /users/7/params.php HTTP/1.1\r\nHost: localhost\r\nContent-Length: 20\r\n\r\n", "405"},
      {"POST to no route", "POST /webhost.db HTTP/1.1\r\nHost: localhost\r\nContent-Length: 20\r\n\r\n", "404"},
  };
  for (const auto& c : cases) {
    const auto start = std::chrono::steady_clock::now();
    const std::string reply = rawExchange(host.port, c.head, 5);
    EXPECT_EQ(reply.substr(0, 12), std::string("HTTP/1.1 ") + c.status) << c.what;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2)) << c.what;
  }
  // Half a head, then silence: the host gives up on its own.
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(rawExchange(host.port, "GET /users/7/client.xml HTTP/1.1\r\nHost: localhost\r\n", 15).substr(0, 12),
            "HTTP/1.1 400");
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(8));
}

TEST_F(WebHost, ARangeHeaderGetsOneRangeOrTheWholeBody) {
  std::string whole, part;
  ASSERT_EQ(host.get("/users/7/images.php?N=2", &whole), 200);
  std::string overlapping = "bytes=0-";
  for (int i = 1; i < 2000; ++i) overlapping += ",0-";
  const struct {
    const char* range;
    int status;
    std::string body;
  } cases[] = {
      {"bytes=0-9", 206, whole.substr(0, 10)},
      {"bytes=-4", 206, whole.substr(whole.size() - 4)},
      {"bytes=0-1,4-5", 200, whole},
      {overlapping.c_str(), 200, whole},
      {"bytes=9-2", 416, ""},
  };
  for (const auto& c : cases) {
    part.clear();
    EXPECT_EQ(host.getWith("/users/7/images.php?N=2", {{"Range", c.range}}, &part), c.status) << c.range;
    EXPECT_TRUE(part == c.body) << std::string(c.range).substr(0, 20) << ": " << part.size() << " bytes";
  }
}

TEST_F(WebHost, SignInCountsEachAttemptBeforeTheHashPerMemberAndPerAddress) {
  std::atomic<int> unexpected{0};
  std::vector<std::thread> guesses;
  for (int i = 0; i < 40; ++i)
    guesses.emplace_back([&, i] {
      const int status = host.signIn("7", "guess" + std::to_string(i));
      if (status != 401 && status != 429 && status != 503) ++unexpected;
    });
  for (auto& g : guesses) g.join();
  EXPECT_EQ(unexpected.load(), 0);
  EXPECT_GE(host.checks("7 "), 1);
  EXPECT_LE(host.checks("7 "), 6);
  EXPECT_EQ(host.signIn("7", "secret"), 429);   // locked: the right password too

  int last = 0;
  for (int n = 1000; n < 1200; ++n) last = host.signIn(std::to_string(n), "guess");
  EXPECT_EQ(last, 429);
  EXPECT_LE(host.checks(""), 40);
}

TEST_F(WebHost, XRealIpNamesTheClientOnlyWhenTheFrontSendsIt) {
  const struct {
    std::vector<std::string> options;
    int rightFromAnotherAddress;
  } cases[] = {{{}, 429}, {{"--front", "127.0.0.1"}, 303}};
  for (const auto& c : cases) {
    host.kill(SIGTERM);
    host.extra = c.options;
    ASSERT_TRUE(host.start());
    for (int i = 0; i < 5; ++i) EXPECT_EQ(host.signIn("7", "wrong", "203.0.113.5"), 401);
    EXPECT_EQ(host.signIn("7", "secret", "203.0.113.5"), 429);
    EXPECT_EQ(host.signIn("7", "secret", "203.0.113.6"), c.rightFromAnotherAddress) << c.options.size();
  }
  EXPECT_EQ(host.checks("7 from 203.0.113.6"), 1);
  EXPECT_EQ(host.checks("7 from 127.0.0.1"), 5);
}

TEST_F(WebHost, PasswordsAreArgon2idOldHashesUpgradeAndANewPasswordEndsSessions) {
  EXPECT_EQ(host.stored("SELECT substr(password, 1, 10) FROM members WHERE number = 7"), "$argon2id$");
  // A hash from before Argon2id: PBKDF2-SHA256, 60,000 rounds.
  unsigned char key[32];
  PKCS5_PBKDF2_HMAC("ancien", 6, reinterpret_cast<const unsigned char*>("00ff"), 4, 60000, EVP_sha256(), 32, key);
  std::string hex;
  for (unsigned char b : key) hex += "0123456789abcdef"[b >> 4], hex += "0123456789abcdef"[b & 15];
  host.stored("UPDATE members SET password = 'pbkdf2-sha256$60000$00ff$" + hex + "' WHERE number = 7");
  std::string cookie;
  ASSERT_EQ(host.signIn("7", "ancien", {}, &cookie), 303);
  EXPECT_EQ(host.stored("SELECT substr(password, 1, 10) FROM members WHERE number = 7"), "$argon2id$");
  EXPECT_EQ(host.signIn("7", "ancien"), 303);
  // The store keeps a digest of the token, never the cookie's value.
  EXPECT_EQ(host.stored("SELECT count(*) FROM sessions WHERE number = 7"), "2");
  EXPECT_EQ(host.stored("SELECT count(*) FROM sessions WHERE token = '" + cookie.substr(cookie.find('=') + 1) + "'"), "0");
  EXPECT_EQ(host.getWith("/membre/profil", {{"Cookie", cookie}}), 200);

  ASSERT_EQ(host.member({"set", "7", "--password"}, nullptr, "nouveau-mdp\n"), 0);
  EXPECT_EQ(host.getWith("/membre/profil", {{"Cookie", cookie}}), 303);
  EXPECT_EQ(host.stored("SELECT count(*) FROM sessions WHERE number = 7"), "0");
  EXPECT_EQ(host.member({"set", "7", "--password", "en-clair"}), 2);   // never from the arguments
  EXPECT_EQ(host.signIn("7", "nouveau-mdp"), 303);
}

TEST_F(WebHost, ClientPostsAreLimitedAndTheMembersChoicesHold) {
  ASSERT_EQ(host.member({"add", "9", "--prenom", "Léo", "--ville", "Nîmes", "--phrase", "Salut", "--email",
                         "leo@example.org", "--background", "010203"}),
            0);
  const std::string shot = picture(16, 16, "png");
  const struct {
    const char* what;
    std::string path, body;
    int allowed;
    std::string otherPath, otherBody;   // another member or channel: a limit of its own
  } limits[] = {
      {"colour posts per member", "/users/7/params.php", colourRecord(1, 5, 5, 5, 7), 100, "/users/9/params.php",
       colourRecord(1, 1, 2, 3, 9)},
      {"uploads per channel", "/echange/pc_img_share_post.php", uploadRecord(shot, "a.png", 2), 12,
       "/echange/pc_img_share_post.php", uploadRecord(shot, "a.png", 4)},
  };
  for (const auto& l : limits) {
    auto c = host.client();
    c->set_keep_alive(true);
    int accepted = 0;
    for (int i = 0; i < l.allowed; ++i) {
      auto r = c->Post(l.path.c_str(), l.body, kRaw);
      accepted += r && r->status == 200;
    }
    EXPECT_EQ(accepted, l.allowed) << l.what;
    EXPECT_EQ(host.post(l.path, l.body), 429) << l.what;
    EXPECT_EQ(host.post(l.otherPath, l.otherBody), 200) << l.what;
  }

  ASSERT_EQ(host.member({"set", "9", "--keep-colour", "yes", "--publish-email", "yes"}), 0);
  std::string xml;
  EXPECT_EQ(host.post("/users/9/params.php", colourRecord(1, 9, 9, 9, 9)), 403);
  ASSERT_EQ(host.get("/users/9/params.xml", &xml), 200);
  EXPECT_EQ(extract(xml, "BACKGROUND", 64), "030201");
  ASSERT_EQ(host.get("/users/9/client.xml", &xml), 200);
  EXPECT_EQ(extract(xml, "EMAIL", 128), "leo@example.org");
}

TEST_F(WebHost, FiftyClientsAtOnceAllGetTheirAnswers) {
  std::atomic<int> good{0}, bad{0};
  std::vector<std::thread> clients;
  for (int t = 0; t < 50; ++t) {
    clients.emplace_back([&, t] {
      for (int i = 0; i < 6; ++i) {
        std::string body;
        int status;
        if (t % 5 == 0) status = host.post("/users/7/params.php", colourRecord(1, t, t, t, 7));
        else status = host.get(i % 2 ? "/users/7/client.xml" : "/users/7/images.php?N=1", &body);
        (status == 200 ? good : bad)++;
      }
    });
  }
  for (auto& c : clients) c.join();
  EXPECT_EQ(good.load(), 300);
  EXPECT_EQ(bad.load(), 0);
  std::string xml;
  ASSERT_EQ(host.get("/users/7/params.xml", &xml), 200);
  const std::string colour = extract(xml, "BACKGROUND", 64);
  EXPECT_TRUE(colour.substr(0, 2) == colour.substr(2, 2) && colour.substr(2, 2) == colour.substr(4, 2)) << colour;
}

TEST_F(WebHost, StoreSurvivesAHostKilledWhileWriting) {
  std::atomic<bool> stop{false};
  std::atomic<int> written{0}, uploaded{0};
  std::vector<std::thread> writers;
  for (int t = 0; t < 4; ++t) {
    writers.emplace_back([&, t] {
      for (int k = 0; !stop; ++k) {
        const int shade = (t * 60 + k) % 256;
        const int status = t == 0 ? host.post("/echange/pc_img_share_post.php",
                                              uploadRecord(picture(40 + k % 3, 30, "png"), "p.png", 5))
                                  : host.post("/users/7/params.php", colourRecord(1, shade, shade, shade, 7));
        if (status == 200) ++(t == 0 ? uploaded : written);
        if (status < 0) return;
      }
    });
  }
  while (written < 30 || uploaded < 2) usleep(5000);
  host.kill(SIGKILL);
  stop = true;
  for (auto& w : writers) w.join();

  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open_v2((host.dir + "/webhost.db").c_str(), &db, SQLITE_OPEN_READWRITE, nullptr), SQLITE_OK);
  sqlite3_stmt* check = nullptr;
  sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &check, nullptr);
  ASSERT_EQ(sqlite3_step(check), SQLITE_ROW);
  EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(check, 0)), "ok");
  sqlite3_finalize(check);
  sqlite3_close(db);

  ASSERT_TRUE(host.start());
  std::string xml, png;
  ASSERT_EQ(host.get("/users/7/params.xml", &xml), 200);
  const std::string colour = extract(xml, "BACKGROUND", 64);
  EXPECT_TRUE(colour.substr(0, 2) == colour.substr(2, 2) && colour.substr(2, 2) == colour.substr(4, 2)) << colour;
  ASSERT_EQ(host.get("/echange/pc_img_share_get.php?F=5&N=1", &png), 200);
  EXPECT_GE(pngSize(png).width, 40);
  EXPECT_EQ(pngSize(png).height, 30);
  ASSERT_EQ(host.get("/users/7/client.xml", &xml), 200);
  EXPECT_EQ(extract(xml, "PRENOM", 64), "Zoé");
}

// ---- Operator command line ------------------------------------------------------------
TEST_F(WebHost, MemberCommandsAddSetListRemoveAndRefuseWhatTheClientCouldNotRead) {
  const std::string pictureFile = host.dir + "/face.bmp";
  std::ofstream(pictureFile, std::ios::binary) << picture(300, 200, "bmp");
  const std::string notPicture = host.dir + "/notes.txt";
  std::ofstream(notPicture) << "pas une image";
  std::string elevenE;
  for (int i = 0; i < 11; ++i) elevenE += "é";   // 66 bytes once each é is "&#xE9;"
  const struct {
    std::vector<std::string> args;
    int exit;
  } cases[] = {
      {{"add", "9", "--prenom", "Léo", "--ville", "Nîmes", "--phrase", "Salut", "--picture", pictureFile}, 0},
      {{"add", "9", "--prenom", "Léo", "--ville", "Nîmes", "--phrase", "Salut"}, 1},
      {{"add", "10", "--prenom", "Léo"}, 2},
      {{"add", "0", "--prenom", "A", "--ville", "B", "--phrase", "C"}, 2},
      {{"set", "11", "--ville", "Lyon"}, 1},
      {{"set", "9", "--prenom", elevenE}, 2},
      {{"set", "9", "--phrase", "a <PRENOM> b"}, 2},
      {{"set", "9", "--background", "12345G"}, 2},
      {{"set", "9", "--picture", notPicture}, 1},
      {{"set", "9", "--picture", host.dir + "/missing.png"}, 1},
      {{"set", "9", "--ville", "Nancy", "--background", "#00FF00"}, 0},
      {{"frobnicate", "9"}, 2},
  };
  for (const auto& c : cases) {
    std::string joined;
    for (const auto& a : c.args) joined += a + " ";
    EXPECT_EQ(host.member(c.args), c.exit) << joined;
  }
  std::string xml, png, list;
  ASSERT_EQ(host.get("/users/9/client.xml", &xml), 200);
  EXPECT_EQ(extract(xml, "VILLE", 64), "Nancy");
  EXPECT_EQ(extract(xml, "PRENOM", 64), "Léo");
  ASSERT_EQ(host.get("/users/9/params.xml", &xml), 200);
  EXPECT_EQ(extract(xml, "BACKGROUND", 64), "00FF00");
  ASSERT_EQ(host.get("/users/9/images.php?N=2", &png), 200);
  EXPECT_EQ(pngSize(png).width, 200);

  ASSERT_EQ(host.member({"list"}, &list), 0);
  EXPECT_NE(list.find("7\tZoé\tBesançon\t102030\tpassword"), std::string::npos) << list;
  EXPECT_NE(list.find("9\tLéo\tNancy\t00FF00\t-"), std::string::npos) << list;
  ASSERT_EQ(host.member({"remove", "9"}), 0);
  EXPECT_EQ(host.member({"remove", "9"}), 1);
  EXPECT_EQ(host.get("/users/9/client.xml"), 404);
}

TEST_F(WebHost, PagesAreServedInFrenchAndTheInstallerOffersWhatTheDataFolderHolds) {
  std::string html;
  ASSERT_EQ(host.get("/FR-Orva-Lin.php", &html), 200);
  EXPECT_NE(html.find("<html lang=\"fr\">"), std::string::npos);
  EXPECT_NE(html.find("Au café de la gare"), std::string::npos);
  ASSERT_EQ(host.get("/installer.php", &html), 200);
  EXPECT_EQ(html.find("Orva-Lin-Setup-"), std::string::npos);
  EXPECT_EQ(host.get("/telechargement/Orva-Lin.zip"), 404);

  std::ofstream(host.dir + "/Orva-Lin.zip", std::ios::binary) << std::string(100000, 'Z');
  ASSERT_EQ(host.get("/installer.php", &html), 200);
  EXPECT_NE(html.find("/telechargement/Orva-Lin.zip"), std::string::npos);
  std::string zip;
  ASSERT_EQ(host.get("/telechargement/Orva-Lin.zip", &zip), 200);
  EXPECT_EQ(zip, std::string(100000, 'Z'));
  const std::string setup = "Orva-Lin-Setup-" ORVA_VERSION ".exe";
  std::ofstream(host.dir + "/" + setup, std::ios::binary) << "MZ";
  ASSERT_EQ(host.get("/installer.php", &html), 200);
  EXPECT_NE(html.find("/telechargement/" + setup), std::string::npos);
  ASSERT_EQ(host.get("/telechargement/" + setup, &zip), 200);
  EXPECT_EQ(zip, "MZ");
  ASSERT_EQ(host.get("/echange/canal.php?F=5", &html), 200);
  EXPECT_NE(html.find("Au caf"), std::string::npos);
}

// "orva-webhost --data DIR operator ARGS", the password (if any) on standard input.
int operatorCommand(const Host& host, const std::string& args, const std::string& password = "") {
  const std::string command = "printf '%s\\n' '" + password + "' | " + ORVA_WEBHOST_BIN + " --data " + host.dir +
                              " operator " + args + " >" + host.dir + "/operator.out 2>&1";
  const int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_F(WebHost, OperatorCommandsAndAPagedSearchOfAThousandMembers) {
  const struct {
    std::string args, password;
    int exit;
  } cases[] = {
      {"add alice", "console-alice", 0}, {"add alice", "console-alice", 1}, {"add bob", "court", 2},
      {"add carl", "console-carl", 0},
      {"add 'bad name'", "console-alice", 2}, {"add bob", "", 2}, {"remove carol", "", 1},
      {"frobnicate", "", 2},
  };
  for (const auto& c : cases) EXPECT_EQ(operatorCommand(host, c.args, c.password), c.exit) << c.args;
  ASSERT_EQ(operatorCommand(host, "list"), 0);
  std::string listed;
  std::getline(std::ifstream(host.dir + "/operator.out"), listed);
  EXPECT_EQ(listed, "alice");

  // 999 more members straight into the store, as a grown community has them.
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open((host.dir + "/webhost.db").c_str(), &db), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(db,
                         "WITH RECURSIVE n(i) AS (SELECT 8 UNION ALL SELECT i + 1 FROM n WHERE i < 1006) "
                         "INSERT INTO members (number, prenom, ville, phrase, jour, email, folder, red, green, blue, small, large) "
                         "SELECT i, 'Membre' || i, CASE WHEN i % 100 = 0 THEN 'Lyon' ELSE 'Ville' END, 'x', '', '', i, 0, 0, 0, x'', x'' FROM n",
                         nullptr, nullptr, nullptr),
            SQLITE_OK);
  // Two samples of channel 2 in the last hour: 3 and 1 members, a minute of talk each.
  const long long now = static_cast<long long>(std::time(nullptr)) / 60 * 60;
  const std::string samples = "INSERT INTO activity VALUES (" + std::to_string(now - 600) + ", 2, 3, 60000), (" +
                              std::to_string(now - 540) + ", 2, 1, 60000)";
  ASSERT_EQ(sqlite3_exec(db, samples.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_close(db);

  auto c = host.client();
  auto signIn = c->Post("/console/connexion", "nom=alice&motdepasse=console-alice", "application/x-www-form-urlencoded");
  ASSERT_TRUE(signIn);
  ASSERT_EQ(signIn->status, 303);
  const std::string cookie = signIn->get_header_value("Set-Cookie");
  ASSERT_EQ(cookie.rfind("orva_console=", 0), 0u) << cookie;
  const httplib::Headers session = {{"Cookie", cookie.substr(0, cookie.find(';'))}};
  const struct {
    const char* path;
    const char* shows;
    const char* first;   // first row of the page, or "" for none
  } searches[] = {
      {"/console/membres", "1000 membres · page 1 sur 20", "?N=7\""},
      {"/console/membres?page=20", "page 20 sur 20", "?N=957\""},
      {"/console/membres?q=Lyon&page=1", "10 membres · page 1 sur 1", "?N=100\""},
      {"/console/membres?q=421", "1 membre · page 1 sur 1", "?N=421\""},
      {"/console/membres?q=%25", "0 membre · page 1 sur 1", ""},
  };
  for (const auto& s : searches) {
    auto r = c->Get(s.path, session);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 200) << s.path;
    EXPECT_NE(r->body.find(s.shows), std::string::npos) << s.path;
    const auto rows = r->body.find("<table id=\"membres\">");
    const auto firstRow = r->body.find("<a href=\"/console/membre", rows);
    if (*s.first) EXPECT_EQ(r->body.compare(firstRow + 24, std::strlen(s.first), s.first), 0) << s.path;
    else EXPECT_EQ(firstRow, std::string::npos) << s.path;
  }
  auto console = c->Get("/console", session);
  ASSERT_TRUE(console);
  EXPECT_NE(console->body.find("<title>il y a 1 h : 2 membres en moyenne</title>"), std::string::npos);
  EXPECT_NE(console->body.find("<title>il y a 1 h : 2 min</title>"), std::string::npos);
  EXPECT_NE(console->body.find("Le relais ne répond pas : aucun relais n&#39;est configuré"), std::string::npos);
  auto anonymous = c->Get("/console/membres");
  ASSERT_TRUE(anonymous);
  EXPECT_EQ(anonymous->status, 401);
  EXPECT_EQ(operatorCommand(host, "remove alice"), 0);
  auto removed = c->Get("/console/membres", session);
  ASSERT_TRUE(removed);
  EXPECT_EQ(removed->status, 401) << "a removed operator's session ends with the account";
  for (const char* password : {"a", "b", "c", "d", "e", "console-carl"}) {
    auto r = c->Post("/console/connexion", std::string("nom=carl&motdepasse=") + password,
                     "application/x-www-form-urlencoded");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, password[1] ? 429 : 401) << "five misses lock the name, the right password too";
  }
}

}  // namespace
