// The client's one HTTPS layer: synchronous requests to the web host, each
// with a deadline of a few seconds for the whole exchange. The window
// thread's few requests (start-up, the parameters window) read into
// responseBuffer; workers read into buffers of their own.
#pragma once

#include <windows.h>
#include <winhttp.h>

#include <cstddef>
#include <cstdint>
#include <span>

#include "Orva-Lin/web/service_paths.h"
#include "common/win32_guards.h"

namespace win {
struct InternetTraits {
  using Value = HINTERNET;
  static Value invalid() { return nullptr; }
  static void close(Value h) { WinHttpCloseHandle(h); }
};
using Internet = Owned<InternetTraits>;  // session, connection or request
}  // namespace win

inline constexpr std::size_t kResponseBytes = 10'000'000;

// Results of a GET besides a body length: the exchange failed (connection,
// request, send, receive, or a body larger than the buffer), or no session
// could be opened.
inline constexpr std::int32_t kFetchFailed = -1;
inline constexpr std::int32_t kFetchNoSession = 1;

// The body of the last response, from offset 0, always followed by a zero
// byte. Only the first responseLength bytes belong to it: 0 after a failed
// exchange or a non-200 status, whatever the buffer still holds.
extern std::uint8_t responseBuffer[kResponseBytes + 1];
extern std::size_t responseLength;
std::span<const char> responseText();

// One per request function: its requests turn the HTTPS lamp green four
// times, then blue four times.
struct ActivityCounter {
  std::uint32_t count = 0;
};

// GET of buildServicePath(basePath, number, 1). The body length (0 for a
// non-200 status or an empty body), kFetchFailed or kFetchNoSession; use the
// body only through responseLength, never through a result that may be a
// failure code.
std::int32_t fetchPath(const wchar_t* basePath, std::int32_t number);

// fetchPath into a buffer of the caller's (its last byte kept for a
// terminator), for a thread other than the user-interface one: `length`
// gets the body's length, 0 unless a body came.
std::int32_t fetchPathInto(const wchar_t* basePath, std::int32_t number, std::span<std::uint8_t> buffer,
                           std::size_t& length);

// GET of a path as it stands, counted on `counter`; results as fetchPath.
std::int32_t getPath(const wchar_t* path, ActivityCounter& counter);
// getPath into a buffer of the caller's, as fetchPathInto.
std::int32_t getPathInto(const wchar_t* path, ActivityCounter& counter, std::span<std::uint8_t> buffer,
                         std::size_t& length);

// POST of `bytes` bytes as "multipart/form-data" (the services take the raw
// record). The HTTP status, or -1 when the exchange failed; it does not
// touch the lamp nor responseBuffer.
std::int32_t postToHost(const wchar_t* path, const void* body, std::uint32_t bytes);

// The status code of a request; -1 (and a console line) when it can't be read.
std::int32_t responseStatus(HINTERNET request);

// The PNG held in the first `length` bytes of the last body, as a GDI
// bitmap over opaque black; none for anything but a PNG, or when `length`
// is not a length the last exchange delivered.
win::Bitmap decodePngResponse(std::int32_t length);
