// Decoding the pictures strangers send. The bytes go to Debian's maintained
// decoders for the four formats the client offers (libpng, libjpeg-turbo,
// giflib, and a bounded BMP reader here), and those run in a child process
// of their own: a fresh image of this program, limited in address space and
// CPU time, that may only read its input, write its rows and allocate once
// seccomp is on. A decoder fault or a bomb then costs one child, never the
// host; the parent reads at most the declared, already bounded pixels and
// kills a child that takes too long.
#include <fcntl.h>
#include <gif_lib.h>
#include <stdio.h>  // jpeglib.h needs FILE declared first
#include <jpeglib.h>
#include <jerror.h>
#include <png.h>
#include <poll.h>
#include <seccomp.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csetjmp>
#include <cstring>
#include <semaphore>

#include "servers/webhost/webhost.h"

extern char** environ;

namespace webhost {

namespace {

enum class Format { Unknown, Png, Jpeg, Gif, Bmp };

Format sniff(std::span<const std::uint8_t> b) {
  if (b.size() >= 8 && std::memcmp(b.data(), "\x89PNG\r\n\x1a\n", 8) == 0) return Format::Png;
  if (b.size() >= 3 && b[0] == 0xFF && b[1] == 0xD8 && b[2] == 0xFF) return Format::Jpeg;
  if (b.size() >= 6 && (std::memcmp(b.data(), "GIF87a", 6) == 0 || std::memcmp(b.data(), "GIF89a", 6) == 0))
    return Format::Gif;
  if (b.size() >= 2 && b[0] == 'B' && b[1] == 'M') return Format::Bmp;
  return Format::Unknown;
}

bool sizeAllowed(long width, long height) {
  return width >= 1 && height >= 1 && width <= kMaxDecodeSide && height <= kMaxDecodeSide &&
         width * height <= kMaxDecodePixels;
}

// Where decoded rows go: the parent's Image in process, the pipe in the child.
struct RowSink {
  virtual bool begin(int width, int height) = 0;
  virtual bool row(const std::uint8_t* rgb) = 0;   // width * 3 bytes, top first
  virtual ~RowSink() = default;
};

struct ImageSink : RowSink {
  Image& image;
  std::size_t filled = 0;
  explicit ImageSink(Image& i) : image(i) {}
  bool begin(int width, int height) override {
    image.width = width;
    image.height = height;
    image.rgb.assign(static_cast<std::size_t>(width) * height * 3, 0);
    filled = 0;
    return true;
  }
  bool row(const std::uint8_t* rgb) override {
    const std::size_t stride = static_cast<std::size_t>(image.width) * 3;
    if (filled + stride > image.rgb.size()) return false;
    std::memcpy(image.rgb.data() + filled, rgb, stride);
    filled += stride;
    return true;
  }
};

// Transparency is shown over black, as the client's panels draw it.
void rgbaToRgb(const std::uint8_t* rgba, std::uint8_t* rgb, int width) {
  for (int x = 0; x < width; ++x) {
    const unsigned alpha = rgba[4 * x + 3];
    for (int c = 0; c < 3; ++c) rgb[3 * x + c] = static_cast<std::uint8_t>(rgba[4 * x + c] * alpha / 255);
  }
}

// ---- PNG -----------------------------------------------------------------------
struct PngInput {
  std::span<const std::uint8_t> bytes;
  std::size_t at = 0;
};

void pngRead(png_structp png, png_bytep out, png_size_t length) {
  auto* in = static_cast<PngInput*>(png_get_io_ptr(png));
  if (length > in->bytes.size() - in->at) png_error(png, "truncated");
  std::memcpy(out, in->bytes.data() + in->at, length);
  in->at += length;
}

void pngQuiet(png_structp, png_const_charp) {}
void pngFail(png_structp png, png_const_charp) { png_longjmp(png, 1); }

DecodeResult decodePng(std::span<const std::uint8_t> bytes, RowSink& sink) {
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, pngFail, pngQuiet);
  if (!png) return DecodeResult::Unreadable;
  png_infop info = png_create_info_struct(png);
  PngInput input{bytes};
  std::vector<std::uint8_t> rows, line;
  DecodeResult result = DecodeResult::Unreadable;
  if (info && setjmp(png_jmpbuf(png)) == 0) {
    // No ancillary chunk may ask for more than this, whatever it declares.
    png_set_user_limits(png, kMaxDecodeSide, kMaxDecodeSide);
    png_set_chunk_malloc_max(png, 1 << 20);
    png_set_chunk_cache_max(png, 64);
    png_set_read_fn(png, &input, pngRead);
    png_read_info(png, info);
    const png_uint_32 width = png_get_image_width(png, info), height = png_get_image_height(png, info);
    if (!sizeAllowed(width, height)) {
      result = DecodeResult::TooLarge;
    } else {
      png_set_expand(png);
      png_set_strip_16(png);
      png_set_gray_to_rgb(png);
      png_set_add_alpha(png, 0xFF, PNG_FILLER_AFTER);
      const int passes = png_set_interlace_handling(png);
      png_read_update_info(png, info);
      const std::size_t stride = static_cast<std::size_t>(width) * 4;
      if (png_get_rowbytes(png, info) != stride) png_error(png, "layout");
      line.resize(static_cast<std::size_t>(width) * 3);
      sink.begin(static_cast<int>(width), static_cast<int>(height));
      bool ok = true;
      if (passes > 1) {   // interlaced: the passes fill the whole picture
        rows.resize(stride * height);
        for (int pass = 0; pass < passes; ++pass)
          for (png_uint_32 y = 0; y < height; ++y) png_read_row(png, rows.data() + y * stride, nullptr);
        for (png_uint_32 y = 0; y < height && ok; ++y) {
          rgbaToRgb(rows.data() + y * stride, line.data(), static_cast<int>(width));
          ok = sink.row(line.data());
        }
      } else {
        rows.resize(stride);
        for (png_uint_32 y = 0; y < height && ok; ++y) {
          png_read_row(png, rows.data(), nullptr);
          rgbaToRgb(rows.data(), line.data(), static_cast<int>(width));
          ok = sink.row(line.data());
        }
      }
      result = ok ? DecodeResult::Ok : DecodeResult::Unreadable;
    }
  }
  png_destroy_read_struct(&png, info ? &info : nullptr, nullptr);
  return result;
}

// ---- JPEG ----------------------------------------------------------------------
struct JpegError {
  jpeg_error_mgr manager;
  std::jmp_buf jump;
};

void jpegFail(j_common_ptr info) { std::longjmp(reinterpret_cast<JpegError*>(info->err)->jump, 1); }
void jpegQuiet(j_common_ptr) {}
// The library pads a truncated picture with grey and calls it a warning: a
// picture cut short is refused like any other unreadable one.
void jpegWarning(j_common_ptr info, int level) {
  if (level < 0 && info->err->msg_code == JWRN_JPEG_EOF) jpegFail(info);
}

DecodeResult decodeJpeg(std::span<const std::uint8_t> bytes, RowSink& sink) {
  jpeg_decompress_struct info{};
  JpegError error{};
  info.err = jpeg_std_error(&error.manager);
  error.manager.error_exit = jpegFail;
  error.manager.output_message = jpegQuiet;
  error.manager.emit_message = jpegWarning;
  std::vector<std::uint8_t> line;
  DecodeResult result = DecodeResult::Unreadable;
  if (setjmp(error.jump) == 0) {
    jpeg_create_decompress(&info);
    // A progressive picture keeps its coefficients whole; past this the
    // library refuses rather than asking for more.
    info.mem->max_memory_to_use = 160L * 1024 * 1024;
    jpeg_mem_src(&info, bytes.data(), static_cast<unsigned long>(bytes.size()));
    if (jpeg_read_header(&info, TRUE) == JPEG_HEADER_OK) {
      if (!sizeAllowed(info.image_width, info.image_height)) {
        result = DecodeResult::TooLarge;
      } else {
        info.out_color_space = JCS_RGB;
        jpeg_start_decompress(&info);
        if (info.output_components == 3) {
          line.resize(static_cast<std::size_t>(info.output_width) * 3);
          sink.begin(static_cast<int>(info.output_width), static_cast<int>(info.output_height));
          bool ok = true;
          while (ok && info.output_scanline < info.output_height) {
            JSAMPROW row = line.data();
            if (jpeg_read_scanlines(&info, &row, 1) != 1) ok = false;
            else ok = sink.row(line.data());
          }
          if (ok) result = DecodeResult::Ok;
        }
      }
    }
  }
  jpeg_destroy_decompress(&info);
  return result;
}

// ---- GIF (first frame) -----------------------------------------------------------
struct GifInput {
  std::span<const std::uint8_t> bytes;
  std::size_t at = 0;
};

int gifRead(GifFileType* gif, GifByteType* out, int length) {
  auto* in = static_cast<GifInput*>(gif->UserData);
  const std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(std::max(length, 0)), in->bytes.size() - in->at);
  std::memcpy(out, in->bytes.data() + in->at, n);
  in->at += n;
  return static_cast<int>(n);
}

DecodeResult decodeGif(std::span<const std::uint8_t> bytes, RowSink& sink) {
  GifInput input{bytes};
  int error = 0;
  GifFileType* gif = DGifOpen(&input, gifRead, &error);
  if (!gif) return DecodeResult::Unreadable;
  DecodeResult result = DecodeResult::Unreadable;
  const int width = gif->SWidth, height = gif->SHeight;
  GifByteType* raster = nullptr;
  if (!sizeAllowed(width, height)) {
    result = DecodeResult::TooLarge;
  } else {
    // Only the first frame is read: the rest of an animation may be as
    // hostile as it likes, it is never decoded.
    int transparent = -1;
    GifRecordType type;
    bool done = false;
    while (!done && DGifGetRecordType(gif, &type) == GIF_OK) {
      if (type == EXTENSION_RECORD_TYPE) {
        int code = 0;
        GifByteType* block = nullptr;
        if (DGifGetExtension(gif, &code, &block) != GIF_OK) break;
        if (code == GRAPHICS_EXT_FUNC_CODE && block && block[0] >= 4 && (block[1] & 1)) transparent = block[4];
        while (block) {
          if (DGifGetExtensionNext(gif, &block) != GIF_OK) { done = true; break; }
        }
      } else if (type == IMAGE_DESC_RECORD_TYPE) {
        done = true;
        if (DGifGetImageDesc(gif) != GIF_OK) break;
        const GifImageDesc& d = gif->Image;
        const ColorMapObject* map = d.ColorMap ? d.ColorMap : gif->SColorMap;
        if (!map || d.Width < 1 || d.Height < 1 || d.Left < 0 || d.Top < 0 ||
            d.Left + d.Width > width || d.Top + d.Height > height)
          break;
        raster = static_cast<GifByteType*>(std::calloc(static_cast<std::size_t>(d.Width) * d.Height, 1));
        if (!raster) break;
        bool ok = true;
        if (d.Interlace) {
          static constexpr int kStart[4] = {0, 4, 2, 1}, kStep[4] = {8, 8, 4, 2};
          for (int pass = 0; pass < 4 && ok; ++pass)
            for (int y = kStart[pass]; y < d.Height && ok; y += kStep[pass])
              ok = DGifGetLine(gif, raster + static_cast<std::size_t>(y) * d.Width, d.Width) == GIF_OK;
        } else {
          for (int y = 0; y < d.Height && ok; ++y)
            ok = DGifGetLine(gif, raster + static_cast<std::size_t>(y) * d.Width, d.Width) == GIF_OK;
        }
        if (!ok) break;
        std::vector<std::uint8_t> line(static_cast<std::size_t>(width) * 3);
        sink.begin(width, height);
        for (int y = 0; y < height && ok; ++y) {
          std::fill(line.begin(), line.end(), 0);
          if (y >= d.Top && y < d.Top + d.Height) {
            const GifByteType* src = raster + static_cast<std::size_t>(y - d.Top) * d.Width;
            for (int x = 0; x < d.Width; ++x) {
              const int index = src[x];
              if (index == transparent || index >= map->ColorCount) continue;
              std::uint8_t* p = line.data() + static_cast<std::size_t>(d.Left + x) * 3;
              p[0] = map->Colors[index].Red;
              p[1] = map->Colors[index].Green;
              p[2] = map->Colors[index].Blue;
            }
          }
          ok = sink.row(line.data());
        }
        if (ok) result = DecodeResult::Ok;
      } else if (type == TERMINATE_RECORD_TYPE) {
        break;
      }
    }
  }
  std::free(raster);
  DGifCloseFile(gif, &error);
  return result;
}

// ---- BMP -----------------------------------------------------------------------
std::uint32_t le32(const std::uint8_t* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (std::uint32_t{p[3]} << 24); }
std::uint16_t le16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }

// Uncompressed Windows bitmaps of 1, 4, 8, 24 or 32 bits, bottom-up or
// top-down: what Paint and the usual tools save. Every offset is checked
// against the file before it is read.
DecodeResult decodeBmp(std::span<const std::uint8_t> b, RowSink& sink) {
  if (b.size() < 54) return DecodeResult::Unreadable;
  const std::uint32_t dataAt = le32(&b[10]), headerSize = le32(&b[14]);
  if (headerSize < 40 || headerSize > 124 || 14u + headerSize > b.size()) return DecodeResult::Unreadable;
  const std::int32_t rawWidth = static_cast<std::int32_t>(le32(&b[18]));
  const std::int32_t rawHeight = static_cast<std::int32_t>(le32(&b[22]));
  const unsigned bits = le16(&b[28]), compression = le32(&b[30]);
  std::uint32_t colours = le32(&b[46]);
  if (rawHeight == INT32_MIN || rawWidth <= 0) return DecodeResult::Unreadable;
  const long width = rawWidth, height = rawHeight < 0 ? -static_cast<long>(rawHeight) : rawHeight;
  if (!sizeAllowed(width, height)) return DecodeResult::TooLarge;
  if (le16(&b[26]) != 1 || compression != 0) return DecodeResult::Unreadable;
  if (bits != 1 && bits != 4 && bits != 8 && bits != 24 && bits != 32) return DecodeResult::Unreadable;
  const std::uint8_t* palette = b.data() + 14 + headerSize;
  if (bits <= 8) {
    if (colours == 0 || colours > (1u << bits)) colours = 1u << bits;
    if (14u + headerSize + 4u * colours > b.size()) return DecodeResult::Unreadable;
  }
  const std::size_t stride = ((static_cast<std::size_t>(width) * bits + 31) / 32) * 4;
  if (dataAt > b.size() || stride * static_cast<std::size_t>(height) > b.size() - dataAt)
    return DecodeResult::Unreadable;
  std::vector<std::uint8_t> line(static_cast<std::size_t>(width) * 3);
  sink.begin(static_cast<int>(width), static_cast<int>(height));
  for (long y = 0; y < height; ++y) {
    const long fileRow = rawHeight < 0 ? y : height - 1 - y;
    const std::uint8_t* src = b.data() + dataAt + static_cast<std::size_t>(fileRow) * stride;
    for (long x = 0; x < width; ++x) {
      std::uint8_t* p = line.data() + x * 3;
      if (bits >= 24) {
        const std::uint8_t* px = src + x * (bits / 8);
        p[0] = px[2], p[1] = px[1], p[2] = px[0];
        continue;
      }
      const unsigned perByte = 8 / bits;
      const unsigned shift = 8 - bits * (1 + x % perByte);
      const unsigned index = (src[x / perByte] >> shift) & ((1u << bits) - 1);
      const std::uint8_t* c = palette + 4 * std::min(index, colours - 1);
      p[0] = c[2], p[1] = c[1], p[2] = c[0];
    }
    if (!sink.row(line.data())) return DecodeResult::Unreadable;
  }
  return DecodeResult::Ok;
}

DecodeResult decodeInto(std::span<const std::uint8_t> bytes, RowSink& sink) {
  switch (sniff(bytes)) {
    case Format::Png: return decodePng(bytes, sink);
    case Format::Jpeg: return decodeJpeg(bytes, sink);
    case Format::Gif: return decodeGif(bytes, sink);
    case Format::Bmp: return decodeBmp(bytes, sink);
    case Format::Unknown: break;
  }
  return DecodeResult::Unknown;
}

const char* decodeErrorText(DecodeResult result) {
  switch (result) {
    case DecodeResult::Ok: return "";
    case DecodeResult::Unknown: return "format d'image inconnu (PNG, JPEG, GIF ou BMP)";
    case DecodeResult::TooLarge: return "image aux dimensions excessives";
    case DecodeResult::Unreadable: break;
  }
  return "image illisible";
}

// ---- The child -----------------------------------------------------------------
// The child's budget: room for the input, the decoders' state and a
// progressive JPEG's coefficients, and a few seconds of CPU.
constexpr rlim_t kChildAddressSpace = 320L * 1024 * 1024;
constexpr rlim_t kChildCpuSeconds = 5;
constexpr int kChildWallMilliseconds = 10'000;
// An upload's file is at most 10,000,000 bytes, the member page's picture a
// little more.
constexpr std::uint32_t kMaxPictureBytes = 24'000'000;

bool writeAll(int fd, const void* data, std::size_t size) {
  const auto* p = static_cast<const std::uint8_t*>(data);
  while (size) {
    const ssize_t n = write(fd, p, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

bool readAll(int fd, void* data, std::size_t size) {
  auto* p = static_cast<std::uint8_t*>(data);
  while (size) {
    const ssize_t n = read(fd, p, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

struct PipeSink : RowSink {
  int width = 0;
  bool begin(int w, int h) override {
    width = w;
    const std::uint32_t head[2] = {static_cast<std::uint32_t>(w), static_cast<std::uint32_t>(h)};
    return writeAll(1, head, sizeof head);
  }
  bool row(const std::uint8_t* rgb) override { return writeAll(1, rgb, static_cast<std::size_t>(width) * 3); }
};

// Allocation, reading standard input and writing standard output; nothing
// may be mapped executable. Anything else kills the child.
bool confine() {
  scmp_filter_ctx filter = seccomp_init(SCMP_ACT_KILL_PROCESS);
  if (!filter) return false;
  bool ok = true;
  for (const int call : {SCMP_SYS(read), SCMP_SYS(write), SCMP_SYS(exit), SCMP_SYS(exit_group),
                         SCMP_SYS(brk), SCMP_SYS(munmap), SCMP_SYS(mremap), SCMP_SYS(madvise),
                         SCMP_SYS(rt_sigreturn), SCMP_SYS(close), SCMP_SYS(fstat), SCMP_SYS(newfstatat),
                         SCMP_SYS(getrandom)})
    ok = ok && seccomp_rule_add(filter, SCMP_ACT_ALLOW, call, 0) == 0;
  ok = ok && seccomp_rule_add(filter, SCMP_ACT_ALLOW, SCMP_SYS(mmap), 1,
                              SCMP_A2(SCMP_CMP_MASKED_EQ, PROT_EXEC, 0)) == 0;
  ok = ok && seccomp_rule_add(filter, SCMP_ACT_ALLOW, SCMP_SYS(mprotect), 1,
                              SCMP_A2(SCMP_CMP_MASKED_EQ, PROT_EXEC, 0)) == 0;
  ok = ok && seccomp_load(filter) == 0;
  seccomp_release(filter);
  return ok;
}

int exitCode(DecodeResult result) { return 10 + static_cast<int>(result); }

}  // namespace

DecodeResult decodePictureInProcess(std::span<const std::uint8_t> bytes, Image& out) {
  ImageSink sink(out);
  const DecodeResult result = decodeInto(bytes, sink);
  if (result == DecodeResult::Ok && sink.filled != out.rgb.size()) return DecodeResult::Unreadable;
  return result;
}

namespace {
int decodeConfined() {
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  // The host's sockets and store stay out of reach.
  if (close_range(3, ~0u, 0) != 0)
    for (int fd = 3; fd < 65536; ++fd) close(fd);
  const rlimit space{kChildAddressSpace, kChildAddressSpace}, cpu{kChildCpuSeconds, kChildCpuSeconds};
  const rlimit none{0, 0};
  // Refusing every picture is better than decoding one unconfined; the
  // journal says why.
  if (setrlimit(RLIMIT_AS, &space) || setrlimit(RLIMIT_CPU, &cpu) || setrlimit(RLIMIT_CORE, &none) ||
      setrlimit(RLIMIT_NOFILE, &none) || prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) || !confine()) {
    static constexpr char kMessage[] = "orva-webhost: picture decoder: cannot confine itself\n";
    (void)!write(2, kMessage, sizeof kMessage - 1);
    return 1;
  }
  std::uint32_t size = 0;
  if (!readAll(0, &size, sizeof size) || size == 0 || size > kMaxPictureBytes) return exitCode(DecodeResult::Unreadable);
  std::vector<std::uint8_t> bytes(size);
  if (!readAll(0, bytes.data(), size)) return exitCode(DecodeResult::Unreadable);
  PipeSink sink;
  return exitCode(decodeInto(bytes, sink));
}
}  // namespace

// Ends without running the host's exit handlers: nothing of the host is set
// up in this process, and the filter allows no more than exit.
[[noreturn]] int decoderChild() { _exit(decodeConfined()); }

namespace {

// Decoding children at once: each may use its address-space budget.
std::counting_semaphore<2> decodeSlots(2);
struct DecodeSlot {
  DecodeSlot() { decodeSlots.acquire(); }
  ~DecodeSlot() { decodeSlots.release(); }
};

using Clock = std::chrono::steady_clock;

// Waits until FD is ready for EVENTS or the deadline passes.
bool waitFor(int fd, short events, Clock::time_point deadline) {
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return false;
    pollfd p{fd, events, 0};
    const int n = poll(&p, 1, static_cast<int>(left));
    if (n > 0) return true;
    if (n < 0 && errno != EINTR) return false;
  }
}

bool sendTo(int fd, const std::uint8_t* p, std::size_t size, Clock::time_point deadline) {
  while (size) {
    if (!waitFor(fd, POLLOUT, deadline)) return false;
    const ssize_t n = write(fd, p, size);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n <= 0) return false;
    p += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

bool receive(int fd, std::uint8_t* p, std::size_t size, Clock::time_point deadline) {
  while (size) {
    if (!waitFor(fd, POLLIN, deadline)) return false;
    const ssize_t n = read(fd, p, size);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n <= 0) return false;
    p += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

struct Fd {
  int fd = -1;
  ~Fd() { reset(); }
  void reset() {
    if (fd >= 0) close(fd);
    fd = -1;
  }
};

}  // namespace

bool decodePicture(std::span<const std::uint8_t> bytes, Image& out, std::string& error) {
  if (bytes.empty() || bytes.size() > kMaxPictureBytes) {
    error = "image vide ou trop grande";
    return false;
  }
  if (sniff(bytes) == Format::Unknown) {
    error = decodeErrorText(DecodeResult::Unknown);
    return false;
  }
  DecodeSlot slot;
  int in[2], outPipe[2];
  if (pipe2(in, O_CLOEXEC) != 0) return error = "décodeur indisponible", false;
  Fd inRead{in[0]}, inWrite{in[1]};
  if (pipe2(outPipe, O_CLOEXEC) != 0) return error = "décodeur indisponible", false;
  Fd outRead{outPipe[0]}, outWrite{outPipe[1]};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, inRead.fd, 0);
  posix_spawn_file_actions_adddup2(&actions, outWrite.fd, 1);
  char self[] = "orva-webhost";
  char argument[] = "--decode-picture";
  char* argv[] = {self, argument, nullptr};
  char* envp[] = {nullptr};
  pid_t child = 0;
  const int spawned = posix_spawn(&child, "/proc/self/exe", &actions, nullptr, argv, envp);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return error = "décodeur indisponible", false;
  inRead.reset();
  outWrite.reset();
  fcntl(inWrite.fd, F_SETFL, O_NONBLOCK);
  fcntl(outRead.fd, F_SETFL, O_NONBLOCK);

  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(kChildWallMilliseconds);
  const std::uint32_t size = static_cast<std::uint32_t>(bytes.size());
  bool ok = sendTo(inWrite.fd, reinterpret_cast<const std::uint8_t*>(&size), sizeof size, deadline) &&
            sendTo(inWrite.fd, bytes.data(), bytes.size(), deadline);
  inWrite.reset();
  std::uint32_t head[2] = {};
  ok = ok && receive(outRead.fd, reinterpret_cast<std::uint8_t*>(head), sizeof head, deadline) &&
       sizeAllowed(head[0], head[1]);
  if (ok) {
    out.width = static_cast<int>(head[0]);
    out.height = static_cast<int>(head[1]);
    out.rgb.resize(static_cast<std::size_t>(out.width) * out.height * 3);
    ok = receive(outRead.fd, out.rgb.data(), out.rgb.size(), deadline);
  }
  const bool timedOut = Clock::now() >= deadline;
  // The child has said all it may; whatever it still does is cut short.
  if (!ok) kill(child, SIGKILL);
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {}
  DecodeResult result = DecodeResult::Unreadable;
  if (WIFEXITED(status) && WEXITSTATUS(status) >= 10 && WEXITSTATUS(status) <= 13)
    result = static_cast<DecodeResult>(WEXITSTATUS(status) - 10);
  if (ok && result == DecodeResult::Ok) return true;
  out = Image{};
  if (result == DecodeResult::Ok) result = DecodeResult::Unreadable;
  error = timedOut ? "image trop longue à décoder" : decodeErrorText(result);
  return false;
}

}  // namespace webhost
