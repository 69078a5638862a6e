// Load generator for orva-webhost on loopback: 50 concurrent clients asking
// for client.xml and for the grid portrait, over HTTPS with the certificate
// validated, through the production front (./orva webhost: nginx in front of
// the host) or, with --direct, to the host alone serving TLS itself. Two ways of asking: a new TLS connection per request, as
// Orva-Lin does (it opens a session per request), and one kept-alive
// connection per client, which shows what the host itself costs once the
// handshakes are out of the way. Reports requests per second and the p50 and
// p99 latency of each. Bounded: four runs of a few seconds each.
//   webhost_bench [seconds per run, default 5] [--direct]
#include <httplib.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

constexpr int kClients = 50;
const std::string kTls = ORVA_TLS_DIR;

using Clock = std::chrono::steady_clock;

int run(std::vector<std::string> args) {
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid;
  if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return -1;
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

struct Result {
  long requests = 0, failures = 0;
  double seconds = 0;
  std::vector<double> latencyMs;
};

Result load(int port, const std::string& path, bool keepAlive, int seconds) {
  std::vector<std::vector<double>> latencies(kClients);
  std::atomic<long> failures{0};
  const auto end = Clock::now() + std::chrono::seconds(seconds);
  std::vector<std::thread> threads;
  const auto start = Clock::now();
  for (int c = 0; c < kClients; ++c) {
    threads.emplace_back([&, c] {
      std::unique_ptr<httplib::SSLClient> kept;
      while (Clock::now() < end) {
        std::unique_ptr<httplib::SSLClient> fresh;
        httplib::SSLClient* client = kept.get();
        if (!client) {
          auto made = std::make_unique<httplib::SSLClient>("localhost", port);
          made->set_ca_cert_path((kTls + "/ca.pem").c_str());
          made->enable_server_certificate_verification(true);
          made->set_keep_alive(keepAlive);
          client = made.get();
          (keepAlive ? kept : fresh) = std::move(made);
        }
        const auto t0 = Clock::now();
        auto r = client->Get(path.c_str());
        const double ms = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
        if (r && r->status == 200 && !r->body.empty()) latencies[c].push_back(ms);
        else ++failures, kept.reset();
      }
    });
  }
  for (auto& t : threads) t.join();
  Result result;
  result.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  for (auto& l : latencies) result.latencyMs.insert(result.latencyMs.end(), l.begin(), l.end());
  result.requests = static_cast<long>(result.latencyMs.size());
  result.failures = failures;
  std::sort(result.latencyMs.begin(), result.latencyMs.end());
  return result;
}

double percentile(const std::vector<double>& sorted, double p) {
  if (sorted.empty()) return 0;
  return sorted[std::min(sorted.size() - 1, static_cast<std::size_t>(p * static_cast<double>(sorted.size())))];
}

}  // namespace

int main(int argc, char** argv) {
  signal(SIGPIPE, SIG_IGN);
  const int seconds = argc > 1 ? std::clamp(std::atoi(argv[1]), 1, 30) : 5;
  const bool direct = argc > 2 && std::string(argv[2]) == "--direct";
  char dirTemplate[] = "/tmp/webhost-bench-XXXXXX";
  const std::string dir = mkdtemp(dirTemplate);
  if (run({ORVA_WEBHOST_BIN, "--data", dir, "member", "add", "7", "--prenom", "Zoé", "--ville", "Besançon",
           "--phrase", "Bonne journée à tous"}) != 0)
    return std::fprintf(stderr, "cannot add the member\n"), 1;

  int pipeFd[2];
  if (pipe(pipeFd) != 0) return 1;
  std::vector<std::string> args = {ORVA_WEBHOST_BIN, "--data", dir, "--bind", "127.0.0.1", "--port", "0",
                                   "--cert", kTls + "/localhost.pem", "--key", kTls + "/localhost.key"};
  if (!direct)
    args = {ORVA_SCRIPT, "webhost", "--port", "0", "--data", dir, "--cert", kTls + "/localhost.pem",
            "--key", kTls + "/localhost.key", "--binary", ORVA_WEBHOST_BIN};
  std::vector<char*> hostArgv;
  for (auto& a : args) hostArgv.push_back(a.data());
  hostArgv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeFd[1], 1);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t host;
  if (posix_spawn(&host, hostArgv[0], &actions, nullptr, hostArgv.data(), environ) != 0) return 1;
  close(pipeFd[1]);
  FILE* out = fdopen(pipeFd[0], "r");
  char line[128] = {};
  int port = 0;
  if (!std::fgets(line, sizeof line, out) || std::sscanf(line, "listening on 127.0.0.1:%d", &port) != 1)
    return std::fprintf(stderr, "the host did not start\n"), 1;

  std::printf("orva-webhost %s, %d concurrent clients on loopback, %d s per run, %u cores\n",
              direct ? "alone" : "behind nginx", kClients, seconds, std::thread::hardware_concurrency());
  std::printf("%-26s %-20s %10s %9s %9s %9s\n", "path", "connection", "requests/s", "p50 ms", "p99 ms", "failures");
  for (const char* path : {"/users/7/client.xml", "/users/7/images.php?N=1"}) {
    for (bool keepAlive : {false, true}) {
      const Result r = load(port, path, keepAlive, seconds);
      std::printf("%-26s %-20s %10.0f %9.1f %9.1f %9ld\n", path,
                  keepAlive ? "kept alive" : "new TLS per request", static_cast<double>(r.requests) / r.seconds,
                  percentile(r.latencyMs, 0.50), percentile(r.latencyMs, 0.99), r.failures);
      std::fflush(stdout);
    }
  }
  kill(host, SIGTERM);
  waitpid(host, nullptr, 0);
  std::fclose(out);
  std::system(("rm -rf " + dir).c_str());
  return 0;
}
