#include "Orva-Lin/web/http.h"

#include "common/gdiplus_win.h"

#include <atomic>
#include <cstdio>
#include <cstring>

#include "Orva-Lin/shared_state.h"

std::uint8_t responseBuffer[kResponseBytes + 1];
std::size_t responseLength = 0;

namespace {

constexpr wchar_t kUserAgent[] = L"Orva-Lin/1.0";
constexpr DWORD kStatusOk = 200;
constexpr std::uint8_t kPngSignature[8] = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A};

void countActivity(ActivityCounter& counter) {
  httpsLedState.store(counter.count < 4 ? led::kGreen : led::kBlue, std::memory_order_relaxed);
  counter.count = (counter.count + 1) % 8;
}

struct Connection {
  win::Internet session;
  win::Internet connection;
};

// False with nothing open when there is no session: the caller tells that
// apart from a failed connection.
bool openSession(Connection& c) {
  c.session.reset(WinHttpOpen(kUserAgent, WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                              WINHTTP_NO_PROXY_BYPASS, 0));
  return static_cast<bool>(c.session);
}

bool connect(Connection& c) {
  wchar_t host[config::kHostChars];
  if (MultiByteToWideChar(CP_ACP, 0, webHost.name, -1, host, config::kHostChars) <= 0) return false;
  c.connection.reset(WinHttpConnect(c.session.get(), host, webHost.port, 0));
  return static_cast<bool>(c.connection);
}

// Reads the whole body into `buffer` (its last byte is kept for the
// terminator). A body that does not fit, or a read that fails half-way, is a
// failed exchange, never a shorter body.
std::int32_t readBody(HINTERNET request, std::span<std::uint8_t> buffer, std::size_t& length) {
  length = 0;
  buffer[0] = 0;
  DWORD status = 0;
  DWORD size = sizeof status;
  if (WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                          WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX) &&
      status != kStatusOk)
    return 0;
  const std::size_t capacity = buffer.size() - 1;
  std::size_t total = 0;
  for (;;) {
    DWORD available = 0;
    if (!WinHttpQueryDataAvailable(request, &available)) return kFetchFailed;
    if (available == 0) break;
    if (available > capacity - total) return kFetchFailed;
    DWORD read = 0;
    if (!WinHttpReadData(request, buffer.data() + total, available, &read)) return kFetchFailed;
    if (read == 0) break;
    total += read;
  }
  length = total;
  buffer[total] = 0;
  return static_cast<std::int32_t>(total);
}

// A GET into `buffer`; results as fetchPath, `length` 0 unless a body came.
std::int32_t getInto(const wchar_t* path, ActivityCounter& counter, std::span<std::uint8_t> buffer,
                     std::size_t& length) {
  countActivity(counter);
  length = 0;
  buffer[0] = 0;
  Connection c;
  if (!openSession(c)) return kFetchNoSession;
  if (!path || !connect(c)) return kFetchFailed;
  // Declared after the connection, so it is closed first.
  win::Internet request(WinHttpOpenRequest(c.connection.get(), L"GET", path, nullptr, WINHTTP_NO_REFERER,
                                           WINHTTP_DEFAULT_ACCEPT_TYPES, WINHTTP_FLAG_SECURE));
  if (!request) return kFetchFailed;
  if (!WinHttpSendRequest(request.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0, 0) ||
      !WinHttpReceiveResponse(request.get(), nullptr))
    return kFetchFailed;
  return readBody(request.get(), buffer, length);
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
  win::Internet request(WinHttpOpenRequest(c.connection.get(), L"POST", path, nullptr, WINHTTP_NO_REFERER,
                                           WINHTTP_DEFAULT_ACCEPT_TYPES, WINHTTP_FLAG_SECURE));
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
