#include "Orva-Lin/web/share_upload.h"

#include <shobjidl.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <span>
#include <string_view>

#include "Orva-Lin/draw_helpers.h"
#include "Orva-Lin/shared_state.h"
#include "Orva-Lin/web/http.h"
#include "Orva-Lin/web/records.h"
#include "Orva-Lin/web/service_paths.h"
#include "common/win32_guards.h"

namespace {

constexpr wchar_t kFilterLabel[] = L"Images (*.png;*.jpg;*.jpeg;*.bmp;*.gif)";
constexpr wchar_t kFilterPattern[] = L"*.png;*.jpg;*.jpeg;*.bmp;*.gif";
constexpr wchar_t kWarningTitle[] = L"Avertissement";
constexpr wchar_t kTooLargeFormat[] = L"Fichier superieur a la taille maximale du buffer\nMaximum = % ld octets";
constexpr wchar_t kUnreadableFormat[] = L"Le fichier ne peut pas être lu :\n%ls";
constexpr std::size_t kPathChars = 260;        // 259 and the terminator
constexpr int kMaxAnsiPathBytes = 200;

// Sent whole, whatever the file's size; static so that an upload allocates
// nothing. Whoever holds uploadBusy owns it: the dialog and the reading of
// the file, then the POST thread.
std::uint8_t uploadRecord[web::kUploadRecordSize];
std::int32_t fileSize = 0;
std::int32_t fileNameLength = 0;
std::atomic<bool> uploadBusy{false};
HWND uploadNotify = nullptr;
std::uint32_t uploadActivity = 0;

void countActivity() {
  httpsLedState.store(uploadActivity < 4 ? led::kGreen : led::kBlue, std::memory_order_relaxed);
  uploadActivity = (uploadActivity + 1) % 8;
}

// The dialog's choice as a file-system path; false when none was chosen.
bool chooseFile(wchar_t (&path)[kPathChars]) {
  // A thread already in another apartment can still show the dialog.
  win::ComApartment com(COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  if (!com.ok() && com.result() != RPC_E_CHANGED_MODE) return false;
  win::ComPtr<IFileOpenDialog> dialog;
  if (FAILED(CoCreateInstance(CLSID_FileOpenDialog, nullptr, CLSCTX_INPROC_SERVER, IID_IFileOpenDialog,
                              dialog.putVoid())))
    return false;
  const COMDLG_FILTERSPEC types[] = {{kFilterLabel, kFilterPattern}};
  dialog->SetFileTypes(1, types);
  if (FAILED(dialog->Show(nullptr))) return false;
  win::ComPtr<IShellItem> item;
  if (FAILED(dialog->GetResult(item.put()))) return false;
  wchar_t* chosen = nullptr;
  if (FAILED(item->GetDisplayName(SIGDN_FILESYSPATH, &chosen)) || !chosen) return false;
  const bool fits = std::wcslen(chosen) < kPathChars;
  if (fits) std::wcscpy(path, chosen);
  CoTaskMemFree(chosen);
  return fits;
}

void warn(const wchar_t* text) { MessageBoxW(nullptr, text, kWarningTitle, MB_OK | MB_ICONWARNING); }

// The file's bytes into the content field, the rest of the field zeroed so
// no byte of an earlier file goes out with this one. The size, or -1.
std::int32_t readIntoRecord(const wchar_t* path) {
  win::Handle file(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  if (file.get() == INVALID_HANDLE_VALUE) file.release();
  wchar_t text[kPathChars + 64];
  LARGE_INTEGER size{};
  if (!file || !GetFileSizeEx(file.get(), &size)) {
    std::swprintf(text, sizeof text / sizeof *text, kUnreadableFormat, path);
    warn(text);
    return -1;
  }
  if (size.QuadPart > web::kUploadMaxFileSize) {
    std::swprintf(text, sizeof text / sizeof *text, kTooLargeFormat, static_cast<long>(web::kUploadContentSize));
    warn(text);
    return -1;
  }
  DWORD read = 0;
  if (!ReadFile(file.get(), uploadRecord, static_cast<DWORD>(size.QuadPart), &read, nullptr)) {
    std::swprintf(text, sizeof text / sizeof *text, kUnreadableFormat, path);
    warn(text);
    return -1;
  }
  std::memset(uploadRecord + read, 0, web::kUploadContentSize - read);
  return static_cast<std::int32_t>(read);
}

DWORD WINAPI UploadThread(void*) {
  wchar_t path[kServicePathUnits];
  std::int32_t status = -1;
  if (buildServicePath(kExchangeBase, 0, kVariantBoardUpload, std::span<wchar_t, kServicePathUnits>(path)))
    status = postToHost(path, uploadRecord, static_cast<std::uint32_t>(web::kUploadRecordSize));
  const HWND notify = uploadNotify;
  uploadBusy.store(false);
  PostMessageW(notify, kShareUploadDone, static_cast<WPARAM>(status), 0);
  return 0;
}

}  // namespace

namespace {

// Fills the record and starts the POST thread; kUploadStarted, 0 when no
// file was chosen, -1 on a failure. Runs with uploadBusy held.
std::int32_t startUpload(std::int32_t channel, HWND notify) {
  countActivity();
  wchar_t path[kPathChars];
  if (!chooseFile(path)) return 0;
  char ansiPath[kMaxAnsiPathBytes + 1];
  const int ansiBytes = WideCharToMultiByte(kTextCodePage, 0, path, -1, nullptr, 0, nullptr, nullptr);
  if (ansiBytes <= 0 || ansiBytes > kMaxAnsiPathBytes ||
      WideCharToMultiByte(kTextCodePage, 0, path, -1, ansiPath, sizeof ansiPath, nullptr, nullptr) <= 0) {
    fileSize = -1;
    return -1;
  }
  fileSize = readIntoRecord(path);
  if (fileSize <= 0) return -1;
  const char* name = std::strrchr(ansiPath, '\\');
  name = name ? name + 1 : ansiPath;
  if (!web::fillUploadTrailer(uploadRecord, fileSize, name, channel)) return -1;
  std::memcpy(&fileNameLength, uploadRecord + web::kUploadNameLengthOffset, sizeof fileNameLength);
  uploadNotify = notify;
  win::Handle thread(CreateThread(nullptr, 0, UploadThread, nullptr, 0, nullptr));
  return thread ? kUploadStarted : -1;
}

}  // namespace

std::int32_t uploadSharedImage(std::int32_t channel, HWND notify) {
  // Taken before the file dialog: the dialog runs a message loop of its
  // own, in which "Envoyer" can be chosen again, and a second upload must
  // not rewrite the record that the first is sending.
  if (uploadBusy.exchange(true)) return -1;
  const std::int32_t result = startUpload(channel, notify);
  if (result != kUploadStarted) uploadBusy.store(false);
  return result;
}
