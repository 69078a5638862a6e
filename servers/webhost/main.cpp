// orva-webhost: serve over HTTPS, or manage the members from the command line.
#include <httplib.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iterator>
#include <memory>
#include <thread>

#include "servers/webhost/webhost.h"

namespace webhost {

namespace {

Options opts;

constexpr const char* kUsage =
    "usage: orva-webhost [--data DIR] [--bind ADDR] [--port N] [--cert PEM --key PEM] [--front ADDR]\n"
    "                    [--relay-ctl PATH]\n"
    "       orva-webhost [--data DIR] member add N --prenom P --ville V --phrase F [options]\n"
    "       orva-webhost [--data DIR] member set N [options]\n"
    "       orva-webhost [--data DIR] member list\n"
    "       orva-webhost [--data DIR] member remove N\n"
    "       orva-webhost [--data DIR] operator add NAME | operator remove NAME | operator list\n"
    "\n"
    "Serves the members' profiles, pictures and the shared-picture board over HTTPS,\n"
    "or over plain HTTP on loopback behind a front (nginx) that terminates TLS.\n"
    "  --data DIR     data folder holding webhost.db (default ./webhost-data)\n"
    "  --bind ADDR    address to listen on (default 0.0.0.0)\n"
    "  --port N       port (default 443; 0 picks a free one)\n"
    "  --cert PEM     certificate chain (default DIR/cert.pem)\n"
    "  --key PEM      private key (default DIR/key.pem)\n"
    "                 with neither on a loopback --bind: plain HTTP, for a front\n"
    "  --relay-ctl PATH  the relay's control socket, read by the operator's console (/console)\n"
    "  --front ADDR   the front's address: its X-Real-IP header names the client\n"
    "Member options:\n"
    "  --prenom P --ville V --phrase F --jour J --email E --folder D\n"
    "  --background RRGGBB   panel colour, red first\n"
    "  --password            reads the member page's password on standard input\n"
    "                        (asked twice, not echoed, on a terminal)\n"
    "  --no-password         removes it: the member cannot sign in\n"
    "  --publish-email yes|no   e-mail in the public client.xml (default no)\n"
    "  --keep-colour yes|no     refuse the client's colour posts (default no)\n"
    "  --picture FILE        PNG, JPEG, GIF, BMP, ...; both sizes are made from it\n"
    "operator add reads the password from the terminal (not echoed) or standard input.\n";

int usage(const char* problem) {
  if (problem) std::fprintf(stderr, "orva-webhost: %s (see orva-webhost --help)\n", problem);
  else std::fputs(kUsage, stdout);
  return 2;
}

bool readFile(const std::string& path, std::string& out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

std::string today() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[16];
  std::strftime(text, sizeof text, "%d/%m/%Y", &local);
  return text;
}

constexpr const char* kFieldOptions[kFieldCount] = {"--prenom", "--ville", "--phrase",
                                                    "--jour",   "--email", "--folder"};

int member(int argc, char** argv) {
  if (argc < 1) return usage("member: add, set, list or remove?");
  const std::string verb = argv[0];
  if (verb == "list") {
    if (argc != 1) return usage("member list takes no argument");
    std::vector<MemberLine> lines;
    if (!listMembers(lines)) return std::fprintf(stderr, "orva-webhost: cannot read the store\n"), 1;
    for (const MemberLine& m : lines)
      std::printf("%d\t%s\t%s\t%s\t%s\t%s\n", m.number, m.profile.field[Prenom].c_str(),
                  m.profile.field[Ville].c_str(),
                  rgbText(m.profile.red, m.profile.green, m.profile.blue).c_str(),
                  m.hasPassword ? "password" : "-", m.profile.field[Phrase].c_str());
    return 0;
  }
  if (argc < 2) return usage("member: a member number is needed");
  const int number = parseMemberNumber(argv[1]);
  if (!number) return usage("member number: 1..65535");
  if (verb == "remove") {
    if (argc != 2) return usage("member remove takes only the number");
    bool found = false;
    if (!removeMember(number, found)) return std::fprintf(stderr, "orva-webhost: store error\n"), 1;
    if (!found) return std::fprintf(stderr, "orva-webhost: no member %d\n", number), 1;
    std::printf("member %d removed\n", number);
    return 0;
  }
  if (verb != "add" && verb != "set") return usage("member: add, set, list or remove?");
  const bool create = verb == "add";

  Profile profile;
  if (!create) {
    const Found found = loadProfile(number, profile);
    if (found == Found::No) return std::fprintf(stderr, "orva-webhost: no member %d\n", number), 1;
    if (found == Found::Error) return std::fprintf(stderr, "orva-webhost: store error\n"), 1;
  } else {
    profile.field[Jour] = today();
    profile.field[Folder] = std::to_string(number);
  }
  bool given[kFieldCount] = {};
  std::string passwordFrom;
  const char* picturePath = nullptr;
  for (int i = 2; i < argc; ++i) {
    const std::string option = argv[i];
    if (option == "--password" || option == "--no-password") {
      passwordFrom = option;
      continue;
    }
    if (i + 1 >= argc) return usage((option + " needs a value").c_str());
    const char* value = argv[++i];
    bool known = false;
    for (int f = 0; f < kFieldCount; ++f) {
      if (option != kFieldOptions[f]) continue;
      const std::string reason = checkFieldValue(static_cast<Field>(f), value);
      if (!reason.empty()) {
        std::fprintf(stderr, "orva-webhost: %s: %s\n", option.c_str(), reason.c_str());
        return 2;
      }
      profile.field[f] = value;
      given[f] = known = true;
    }
    if (option == "--background") {
      if (!parseRgb(value, profile.red, profile.green, profile.blue))
        return usage("--background: six hexadecimal digits, red first (RRGGBB)");
      known = true;
    } else if (option == "--publish-email" || option == "--keep-colour") {
      const std::string answer = value;
      if (answer != "yes" && answer != "no") return usage((option + ": yes or no").c_str());
      (option == "--publish-email" ? profile.emailPublic : profile.colourLocked) = answer == "yes";
      known = true;
    } else if (option == "--picture") {
      picturePath = value;
      known = true;
    }
    if (!known) return usage(("unknown option " + option).c_str());
  }
  if (create && !(given[Prenom] && given[Ville] && given[Phrase]))
    return usage("member add needs --prenom, --ville and --phrase");
  // Never from the arguments, which `ps` and shell histories show.
  std::string password, again;
  if (passwordFrom == "--password" &&
      (!readPassword("Mot de passe : ", password) ||
       (isatty(0) && (!readPassword("Encore une fois : ", again) || again != password))))
    return std::fprintf(stderr, "orva-webhost: --password reads one line of 1 to 1023 bytes on standard input "
                                "(the same twice on a terminal)\n"), 2;

  std::string small, large;
  if (picturePath) {
    std::string bytes, error;
    if (!readFile(picturePath, bytes))
      return std::fprintf(stderr, "orva-webhost: cannot read %s\n", picturePath), 1;
    if (!makePortraits({reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()}, small, large, error))
      return std::fprintf(stderr, "orva-webhost: %s: %s\n", picturePath, error.c_str()), 1;
  } else if (create) {
    const Image portrait = generatedPortrait(number, profile.red, profile.green, profile.blue);
    large = encodePng(portrait);
    small = encodePng(coverResize(portrait, kSmallWidth, kSmallHeight));
  }
  const bool pictures = !small.empty();
  switch (saveMember(number, profile, create, pictures ? &small : nullptr, pictures ? &large : nullptr)) {
    case SaveResult::Ok: break;
    case SaveResult::Exists: return std::fprintf(stderr, "orva-webhost: member %d already exists\n", number), 1;
    case SaveResult::Missing: return std::fprintf(stderr, "orva-webhost: no member %d\n", number), 1;
    case SaveResult::Error: return std::fprintf(stderr, "orva-webhost: store error\n"), 1;
  }
  if (!passwordFrom.empty()) {
    const std::string hash = password.empty() ? std::string() : hashPassword(password);
    if (!password.empty() && hash.empty()) return std::fprintf(stderr, "orva-webhost: cannot hash the password\n"), 1;
    // A new password ends every session opened with the old one.
    if (!changePassword(number, hash)) return std::fprintf(stderr, "orva-webhost: store error\n"), 1;
  }
  std::printf("member %d %s\n", number, create ? "added" : "updated");
  return 0;
}

// The library listens with a backlog of 5: fifty clients connecting at once
// overflow it and the kernel drops their SYNs, which costs each a second or
// more before the retry. Listening again on the bound socket raises it.
void widenBacklog(int port) {
  for (int fd = 0; fd < 1024; ++fd) {
    int listening = 0;
    socklen_t size = sizeof listening;
    sockaddr_in address{};
    socklen_t length = sizeof address;
    if (getsockopt(fd, SOL_SOCKET, SO_ACCEPTCONN, &listening, &size) == 0 && listening &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0 &&
        address.sin_family == AF_INET && ntohs(address.sin_port) == port)
      listen(fd, 1024);
  }
}

bool isLoopback(const std::string& address) {
  in_addr v4{};
  if (inet_pton(AF_INET, address.c_str(), &v4) == 1) return (ntohl(v4.s_addr) >> 24) == 127;
  return address == "::1";
}

int serve() {
  // Plain HTTP only where no stranger can reach it: on loopback, behind the
  // front that terminates TLS. Anywhere else the host speaks HTTPS.
  const bool plain = opts.cert.empty() && opts.key.empty() && isLoopback(opts.bind);
  if (opts.cert.empty()) opts.cert = opts.dataDir + "/cert.pem";
  if (opts.key.empty()) opts.key = opts.dataDir + "/key.pem";
  std::unique_ptr<httplib::Server> holder;
  if (plain) {
    holder = std::make_unique<httplib::Server>();
  } else {
    auto tls = std::make_unique<httplib::SSLServer>(opts.cert.c_str(), opts.key.c_str());
    if (!tls->is_valid()) {
      std::fprintf(stderr, "orva-webhost: cannot load the certificate %s and key %s\n",
                   opts.cert.c_str(), opts.key.c_str());
      return 1;
    }
    holder = std::move(tls);
  }
  httplib::Server& server = *holder;
  // A worker serves one connection at a time, keep-alive included: enough of
  // them that fifty clients waiting on a slow one do not queue.
  server.new_task_queue = [] { return new httplib::ThreadPool(64); };
  // The library writes the head and the body of an answer separately: with
  // Nagle's algorithm on, the body then waits for the client's delayed ACK,
  // 40 ms per request on a kept-alive connection.
  server.set_tcp_nodelay(true);
  // Every wait for the peer has a deadline: a silent connection is dropped
  // after 5 s whether it is between requests or in the middle of one. (A
  // peer trickling a byte every few seconds is the front's to stop: it
  // times whole headers and bodies.)
  server.set_keep_alive_max_count(100);
  server.set_keep_alive_timeout(5);
  server.set_read_timeout(5);
  server.set_write_timeout(10);
  // Each route bounds its own body before reading it (addRequestGuards);
  // this is the library's backstop.
  server.set_payload_max_length(largestBody());
  server.set_logger([](const httplib::Request& req, const httplib::Response& res) {
    if (res.status >= 400 || req.method == "POST")
      logLine("%s %s %s -> %d", clientAddress(req).c_str(), req.method.c_str(), req.path.c_str(), res.status);
  });
  server.set_exception_handler([](const httplib::Request&, httplib::Response& res, std::exception_ptr) {
    res.status = 500;
    res.set_content("erreur interne\n", "text/plain; charset=utf-8");
  });
  addRequestGuards(server);
  addClientRoutes(server);
  addPageRoutes(server);
  addConsoleRoutes(server);

  int port = opts.port;
  if (port == 0) {
    port = server.bind_to_any_port(opts.bind);
    if (port < 0) port = 0;
  } else if (!server.bind_to_port(opts.bind, port)) {
    port = 0;
  }
  if (port == 0) {
    std::fprintf(stderr, "orva-webhost: cannot listen on %s:%d\n", opts.bind.c_str(), opts.port);
    return 1;
  }
  widenBacklog(port);
  // SIGTERM and SIGINT stop the server between requests: the signals are
  // blocked in every thread (the workers inherit the mask) and one thread
  // waits for them, so the requests in flight finish and their
  // transactions commit.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGTERM);
  sigaddset(&stopSignals, SIGINT);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  std::thread([&server, stopSignals] {
    int signal = 0;
    sigwait(&stopSignals, &signal);
    logLine("signal %d: stopping", signal);
    // A signal that comes just after "listening" may beat the accept loop;
    // stop() before the loop runs does nothing and the host would never end.
    while (!server.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    server.stop();
  }).detach();
  if (!opts.relayCtl.empty()) startActivitySampler();
  std::printf("listening on %s:%d\n", opts.bind.c_str(), port);
  std::fflush(stdout);
  return server.listen_after_bind() ? 0 : 1;
}

}  // namespace

const Options& options() { return opts; }

void logLine(const char* format, ...) {
  char line[1024];
  va_list args;
  va_start(args, format);
  std::vsnprintf(line, sizeof line, format, args);
  va_end(args);
  std::fprintf(stderr, "orva-webhost: %s\n", escapeLogText(line).c_str());
}

int run(int argc, char** argv) {
  int i = 1;
  for (; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") return usage(nullptr), 0;
    if (arg.rfind("--", 0) != 0) break;
    if (i + 1 >= argc) return usage((arg + " needs a value").c_str());
    const char* value = argv[++i];
    if (arg == "--data") opts.dataDir = value;
    else if (arg == "--bind") opts.bind = value;
    else if (arg == "--cert") opts.cert = value;
    else if (arg == "--key") opts.key = value;
    else if (arg == "--front") opts.front = value;
    else if (arg == "--relay-ctl") opts.relayCtl = value;
    else if (arg == "--port") {
      char* end = nullptr;
      const long port = std::strtol(value, &end, 10);
      if (!*value || *end || port < 0 || port > 65535) return usage("--port: 0..65535");
      opts.port = static_cast<int>(port);
    } else {
      return usage(("unknown option " + arg).c_str());
    }
  }
  std::string error;
  if (!openStore(opts.dataDir, error)) {
    std::fprintf(stderr, "orva-webhost: cannot open the store in %s: %s\n", opts.dataDir.c_str(), error.c_str());
    return 1;
  }
  if (i < argc) {
    if (std::strcmp(argv[i], "member") == 0) return member(argc - i - 1, argv + i + 1);
    if (std::strcmp(argv[i], "operator") == 0) return operatorCommand(argc - i - 1, argv + i + 1);
    return usage((std::string("unknown command ") + argv[i]).c_str());
  }
  return serve();
}

}  // namespace webhost

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], webhost::kDecoderArgument) == 0) webhost::decoderChild();
  signal(SIGPIPE, SIG_IGN);
  umask(077);   // the store holds password hashes and session tokens
  return webhost::run(argc, argv);
}
