#include "Orva-Lin/web/http.h"

#include "common/gdiplus_win.h"

#include <atomic>
#include <cstdio>
#include <cstring>

#include "Orva-Lin/shared_state.h"
#include "Orva-Lin/web/body_reader.h"

std::uint8_t responseBuffer[kResponseBytes + 1];
std::size_t responseLength = 0;

namespace {

constexpr wchar_t kUserAgent[] = L"Orva-Lin/1.0";
constexpr DWORD kStatusOk = 200;
constexpr std::uint8_t kPngSignature[8] = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A};

// Deadlines of one exchange. The web host is one server that answers a
// profile or a face in tens of milliseconds; a host that has said nothing
// for three seconds is down or stalled, and waiting longer only keeps the
// card, the lists or start-up from going on with what they have. The same
// three seconds bound the name lookup, the connect, each send, the TLS
// handshake and the reply headers (Wine waits for those on the
// receive-response timeout alone, not on the receive one), and each wait
// for body bytes.
constexpr int kStepMs = 3000;
// The whole exchange, body included, so that a host that dribbles a byte
// every couple of seconds ends too. A profile or a face comes whole well
// within it; a step already under way can add at most kStepMs to it.
constexpr std::uint64_t kExchangeMs = 8000;
// A large body (a shared picture of up to 10 MB) earns more time by the
// bytes that have come, at the pace of a poor line (256 kbit/s): a member on
// slow ADSL still gets the picture, a dribbling host still runs out of time.
constexpr std::uint64_t kSlowLineBytesPerSecond = 32 * 1024;

// Only TLS 1.2 and 1.3. Windows 10 before 1903 knows no 1.3 in WinHTTP and
// refuses the flag: it then gets 1.2 alone.
constexpr DWORD kProtocols = WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2 | WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_3;

void countActivity(ActivityCounter& counter) {
  httpsLedState.store(counter.count < 4 ? led::kGreen : led::kBlue, std::memory_order_relaxed);
  counter.count = (counter.count + 1) % 8;
}

struct Connection {
  win::Internet session;
  win::Internet connection;
};

void setOption(HINTERNET h, DWORD option, DWORD value) {
  if (!WinHttpSetOption(h, option, &value, sizeof value))
    std::printf("Erreur WinHttpSetOption %lu: %lu\n", option, GetLastError());
}

// False with nothing open when there is no session: the caller tells that
// apart from a failed connection.
bool openSession(Connection& c) {
  c.session.reset(WinHttpOpen(kUserAgent, WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                              WINHTTP_NO_PROXY_BYPASS, 0));
  if (!c.session) return false;
  DWORD protocols = kProtocols;
  if (!WinHttpSetOption(c.session.get(), WINHTTP_OPTION_SECURE_PROTOCOLS, &protocols, sizeof protocols))
    setOption(c.session.get(), WINHTTP_OPTION_SECURE_PROTOCOLS, WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2);
  // Every service answers at its own address: a redirect, and above all one
  // to another host, is never followed.
  setOption(c.session.get(), WINHTTP_OPTION_REDIRECT_POLICY, WINHTTP_OPTION_REDIRECT_POLICY_NEVER);
  WinHttpSetTimeouts(c.session.get(), kStepMs, kStepMs, kStepMs, kStepMs);
  return true;
}

// A request with the deadlines of one exchange; none when it can't be made.
win::Internet openRequest(Connection& c, const wchar_t* verb, const wchar_t* path) {
  win::Internet request(WinHttpOpenRequest(c.connection.get(), verb, path, nullptr, WINHTTP_NO_REFERER,
                                           WINHTTP_DEFAULT_ACCEPT_TYPES, WINHTTP_FLAG_SECURE));
  if (!request) return request;
  WinHttpSetTimeouts(request.get(), kStepMs, kStepMs, kStepMs, kStepMs);
  setOption(request.get(), WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, kStepMs);
  setOption(request.get(), WINHTTP_OPTION_DISABLE_FEATURE, WINHTTP_DISABLE_REDIRECTS);
  return request;
}

// The body is read against the exchange's deadline, moved on by what has
// come: each call checks it.
struct BodyRead {
  HINTERNET request;
  std::uint64_t deadline;
  std::uint64_t received = 0;
};

bool pastDeadline(std::uint64_t deadline) { return GetTickCount64() >= deadline; }
bool pastDeadline(const BodyRead& body) {
  return pastDeadline(body.deadline + body.received * 1000 / kSlowLineBytesPerSecond);
}

bool connect(Connection& c) {
  wchar_t host[config::kHostChars];
  if (MultiByteToWideChar(CP_ACP, 0, webHost.name, -1, host, config::kHostChars) <= 0) return false;
  c.connection.reset(WinHttpConnect(c.session.get(), host, webHost.port, 0));
  return static_cast<bool>(c.connection);
}

bool requestAvailable(void* context, std::uint32_t& bytes) {
  const BodyRead& body = *static_cast<const BodyRead*>(context);
  if (pastDeadline(body)) return false;
  DWORD n = 0;
  const bool ok = WinHttpQueryDataAvailable(body.request, &n);
  bytes = n;
  return ok;
}

bool requestRead(void* context, std::uint8_t* into, std::uint32_t bytes, std::uint32_t& got) {
  BodyRead& body = *static_cast<BodyRead*>(context);
  if (pastDeadline(body)) return false;
  DWORD n = 0;
  const bool ok = WinHttpReadData(body.request, into, bytes, &n);
  got = n;
  body.received += n;
  return ok;
}

// The body of a 200 reply (or of a reply whose status can't be read) in
// `buffer`; 0 without reading for any other status. `length` gets the
// body's length, 0 unless one came.
std::int32_t readResponse(HINTERNET request, std::uint64_t deadline, std::span<std::uint8_t> buffer,
                          std::size_t& length) {
  length = 0;
  buffer[0] = 0;
  DWORD status = 0;
  DWORD size = sizeof status;
  if (WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                          WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX) &&
      status != kStatusOk)
    return 0;
  BodyRead body{request, deadline};
  const BodySource source{&body, requestAvailable, requestRead};
  const std::int64_t read = readBody(source, buffer);
  if (read < 0) return kFetchFailed;
  length = static_cast<std::size_t>(read);
  return static_cast<std::int32_t>(read);
}

// A GET into `buffer`; results as fetchPath, `length` 0 unless a body came.
std::int32_t getInto(const wchar_t* path, ActivityCounter& counter, std::span<std::uint8_t> buffer,
                     std::size_t& length) {
  countActivity(counter);
  length = 0;
  buffer[0] = 0;
  const std::uint64_t deadline = GetTickCount64() + kExchangeMs;
  Connection c;
  if (!openSession(c)) return kFetchNoSession;
  if (!path || !connect(c)) return kFetchFailed;
  // Declared after the connection, so it is closed first.
  const win::Internet request = openRequest(c, L"GET", path);
  if (!request) return kFetchFailed;
  if (!WinHttpSendRequest(request.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0, 0) ||
      !WinHttpReceiveResponse(request.get(), nullptr) || pastDeadline(deadline))
    return kFetchFailed;
  return readResponse(request.get(), deadline, buffer, length);
}

}  // namespace

std::span<const char> responseText() {
  return {reinterpret_cast<const char*>(responseBuffer), responseLength};
}

std::int32_t responseStatus(HINTERNET request) {
  DWORD status = 0;
  DWORD size = sizeof status;
  if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                           WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX)) {
    std::printf("Erreur WinHttpQueryHeaders: %lu\n", GetLastError());
    return -1;
  }
  return static_cast<std::int32_t>(status);
}

std::int32_t getPath(const wchar_t* path, ActivityCounter& counter) {
  return getInto(path, counter, std::span<std::uint8_t>(responseBuffer), responseLength);
}

std::int32_t getPathInto(const wchar_t* path, ActivityCounter& counter, std::span<std::uint8_t> buffer,
                         std::size_t& length) {
  return getInto(path, counter, buffer, length);
}

std::int32_t fetchPath(const wchar_t* basePath, std::int32_t number) {
  return fetchPathInto(basePath, number, std::span<std::uint8_t>(responseBuffer), responseLength);
}

std::int32_t fetchPathInto(const wchar_t* basePath, std::int32_t number, std::span<std::uint8_t> buffer,
                           std::size_t& length) {
  // The counter is shared by every thread that fetches: a lamp one step off
  // is all a race can cost.
  static std::atomic<std::uint32_t> activity{0};
  ActivityCounter counter{activity.load(std::memory_order_relaxed)};
  wchar_t path[kServicePathUnits];
  std::int32_t result = kFetchFailed;
  if (buildServicePath(basePath, number, kVariantDefault, std::span<wchar_t, kServicePathUnits>(path))) {
    result = getInto(path, counter, buffer, length);
  } else {
    countActivity(counter);
    length = 0;
    buffer[0] = 0;
  }
  activity.store(counter.count, std::memory_order_relaxed);
  return result;
}

std::int32_t postToHost(const wchar_t* path, const void* body, std::uint32_t bytes) {
  Connection c;
  if (!path || !openSession(c) || !connect(c)) return -1;
  // The record is sent whole, whatever the picture's size: a slow line
  // takes its time, but every send step still has its deadline.
  const win::Internet request = openRequest(c, L"POST", path);
  if (!request) {
    std::printf("Erreur WinHttpOpenRequest: %lu\n", GetLastError());
    return -1;
  }
  static constexpr wchar_t kHeaders[] = L"Content-Type: multipart/form-data\r\n";
  if (!WinHttpSendRequest(request.get(), kHeaders, static_cast<DWORD>(-1L), const_cast<void*>(body), bytes, bytes,
                          0)) {
    std::printf("Erreur WinHttpSendRequest: %lu\n", GetLastError());
    return -1;
  }
  if (!WinHttpReceiveResponse(request.get(), nullptr)) {
    std::printf("Erreur WinHttpReceiveResponse: %lu\n", GetLastError());
    return -1;
  }
  return responseStatus(request.get());
}

win::Bitmap decodePngResponse(std::int32_t length) {
  if (length <= static_cast<std::int32_t>(sizeof kPngSignature) - 1 ||
      static_cast<std::size_t>(length) > responseLength ||
      std::memcmp(responseBuffer, kPngSignature, sizeof kPngSignature) != 0)
    return {};
  win::GdiplusSession gdiplus;
  if (!gdiplus.ok()) return {};
  HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, static_cast<SIZE_T>(length));
  if (!block) return {};
  void* bytes = GlobalLock(block);
  if (!bytes) {
    GlobalFree(block);
    return {};
  }
  std::memcpy(bytes, responseBuffer, static_cast<std::size_t>(length));
  GlobalUnlock(block);
  win::ComPtr<IStream> stream;
  // The stream owns the block from here and frees it on its release.
  if (FAILED(CreateStreamOnHGlobal(block, TRUE, stream.put()))) {
    GlobalFree(block);
    return {};
  }
  Gdiplus::Bitmap image(stream.get());
  HBITMAP picture = nullptr;
  if (image.GetLastStatus() != Gdiplus::Ok || image.GetHBITMAP(Gdiplus::Color(0xFF000000), &picture) != Gdiplus::Ok)
    return {};
  return win::Bitmap(picture);
}
