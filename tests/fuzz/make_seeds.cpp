// Writes the seed corpora: the datagrams and records the tests exchange,
// built with the same builders, in each target's input layout.
//   make_seeds OUTDIR   ->  OUTDIR/<target>/<seed>
#include <stb_image_write.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "Orva-Lin/net/packets.h"
#include "Orva-Lin/web/records.h"
#include "servers/webhost/webhost.h"
#include "tests/fuzz/fuzz_input.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
namespace fs = std::filesystem;

fs::path outDir;

void write(const char* target, const char* name, const Bytes& bytes) {
  const fs::path dir = outDir / target;
  fs::create_directories(dir);
  std::ofstream(dir / name, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

Bytes tone() {
  Bytes pcm(proto::kPcmBlockBytes);
  for (std::size_t i = 0; i < pcm.size(); i += 4) {
    const std::int16_t s = static_cast<std::int16_t>((i % 40 < 20) ? 12000 : -12000);
    std::memcpy(&pcm[i], &s, 2);
    std::memcpy(&pcm[i + 2], &s, 2);
  }
  return pcm;
}

Bytes audio(std::uint8_t kind, std::uint8_t seq, std::uint8_t content, std::int8_t pace = 0) {
  Bytes out(proto::kDatagramBytes);
  const Bytes pcm = tone();
  net::AudioHeader head{kind, seq, 3, 7, pace, content};
  out.resize(net::buildAudio(out, head, pcm));
  return out;
}

void audioSeeds() {
  Bytes run;
  std::uint8_t seq = 1;
  for (int i = 0; i < 6; ++i) fuzzin::append(run, 1 | (i == 3 ? 0x80 : 0), audio('A', seq++, 1));
  fuzzin::append(run, 1, audio('A', seq - 1, 1));   // duplicate
  fuzzin::append(run, 1, audio('A', seq++, 0));
  fuzzin::append(run, 1, audio('A', seq++, 2, 4));
  write("audio_datagram", "speech_silence_keepalive", run);
  Bytes echo;
  for (std::uint8_t s = 1; s < 5; ++s) fuzzin::append(echo, 10, audio('B', s, 1));
  write("audio_datagram", "echo_channel", echo);
  Bytes odd;
  Bytes shortSound = audio('A', 9, 1);
  shortSound.resize(100);
  fuzzin::append(odd, 2, shortSound);
  fuzzin::append(odd, 2, audio('C', 10, 1));
  fuzzin::append(odd, 2, Bytes{'A'});
  write("audio_datagram", "short_and_foreign", odd);
}

void listSeeds() {
  std::uint8_t buf[proto::kDatagramBytes];
  Bytes run;
  const std::uint16_t members[20] = {1, 2, 3, 500, 65535, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21};
  for (int ch : {0, 3, 10}) {
    for (std::size_t n : {0u, 3u, 20u}) {
      const std::size_t len = net::buildListReply(buf, ch, std::span(members, n));
      fuzzin::append(run, static_cast<std::uint8_t>(ch), std::span(buf, len));
    }
  }
  for (std::uint8_t code : {0, 220, 240, 17}) {
    const std::size_t len = net::buildSupervisorReply(buf, code);
    fuzzin::append(run, 0, std::span(buf, len));
  }
  write("list_reply", "lists_and_notices", run);
}

// A relay record: the sender's two selector bytes, then the datagram.
void relayRecord(Bytes& run, std::uint8_t tag, std::uint8_t ip, std::uint8_t port,
                 std::span<const std::uint8_t> datagram) {
  Bytes b{ip, port};
  b.insert(b.end(), datagram.begin(), datagram.end());
  fuzzin::append(run, tag, b);
}

void relaySeeds() {
  std::uint8_t buf[proto::kDatagramBytes];
  const Bytes pcm = tone();
  const char id[] = "0123456789ABCDEF";
  Bytes run;
  auto poll = [&](std::uint8_t tag, std::uint8_t ip, int variant, std::uint16_t account) {
    const std::size_t n = net::buildPoll(buf, variant, account, id);
    relayRecord(run, tag, ip, 0, std::span(buf, n));
  };
  // Two members meet on channel 1; one talks, the other polls and asks for
  // lists and notices; then both go quiet until the presence timeout.
  std::size_t n = net::buildHello(buf);
  relayRecord(run, 1, 1, 0, std::span(buf, n));
  poll(1, 1, proto::kPollVariantN, 11);
  poll(1, 2, proto::kPollVariantN, 22);
  poll(1, 2, proto::kPollVariantD, 22);
  poll(1, 2, proto::kPollVariantV, 22);
  std::uint8_t seq = 1;
  for (int i = 0; i < 5; ++i) {
    n = net::buildVoice(buf, seq, 11, pcm);
    seq = net::nextSequence(seq);
    relayRecord(run, 0x20 | 0x40 | 1, 1, 0, std::span(buf, n));
    poll(0x10 | 0x40 | 1, 2, proto::kPollVariantN, 22);
  }
  n = net::buildListRequest(buf);
  relayRecord(run, 0x80 | 1, 2, 1, std::span(buf, n));
  n = net::buildSupervisorRequest(buf, 2);
  relayRecord(run, 0x80 | 1, 2, 1, std::span(buf, n));
  poll(3, 2, proto::kPollVariantN, 22);   // moves to channel 3
  for (int i = 0; i < 4; ++i) relayRecord(run, 0x30 | 0x40 | 1, 9, 0, {});
  write("relay_datagram", "two_members_talk", run);

  Bytes echo;
  run.swap(echo);
  poll(10, 5, proto::kPollVariantN, 55);
  for (int i = 0; i < 8; ++i) {
    n = net::buildVoice(buf, static_cast<std::uint8_t>(i + 1), 55, pcm);
    relayRecord(run, 0x20 | 10, 5, 0, std::span(buf, n));
  }
  for (int i = 0; i < 12; ++i) poll(0x20 | 0x40 | 10, 5, proto::kPollVariantN, 55);
  write("relay_datagram", "echo_channel", run);
}

void webTextSeeds() {
  const char* texts[] = {"Ren&#xE9; de Montr&#xE9;al", "&#xE9;", "&#xE9", "caf&#xE9;&#xE9;&#x",
                         "plain text"};
  int i = 0;
  for (const char* t : texts) {
    const std::string name = "text" + std::to_string(i++);
    write("web_text", name.c_str(), Bytes(t, t + std::strlen(t)));
  }
}

Bytes text(std::string_view s) { return Bytes(s.begin(), s.end()); }

// The documents the web host serves, made by the host itself.
void webElementSeeds() {
  webhost::Profile p;
  p.field[webhost::Prenom] = "Renée";
  p.field[webhost::Ville] = "Montréal";
  p.field[webhost::Phrase] = "Bonjour à tous !";
  p.field[webhost::Jour] = "lundi";
  p.field[webhost::Email] = "renee@example.org";
  p.field[webhost::Folder] = "42";
  p.red = 0x12;
  p.green = 0x34;
  p.blue = 0x56;
  write("web_elements", "client_xml", text(webhost::clientXml(p)));
  write("web_elements", "params_xml", text(webhost::paramsXml(p)));
  write("web_elements", "background_0x", text("<BACKGROUND> 0x00FF80</BACKGROUND>"));
}

void webRecordSeeds() {
  Bytes colour(web::kColourRecordSize);
  web::buildColourRecord(colour, web::ColourUpdate{200, 100, 50, 4242});
  write("web_records", "colour", colour);
  // An upload: its trailer, then its content.
  Bytes record(web::kUploadRecordSize);
  const Bytes content = text("GIF89a small picture");
  web::buildUploadRecord(record, content, "photo.gif", 3);
  Bytes seed(record.begin() + web::kUploadNameOffset, record.end());
  seed.insert(seed.end(), content.begin(), content.end());
  write("web_records", "upload", seed);
}

void webhostRequestSeeds() {
  Bytes run;
  struct Value {
    std::uint8_t field;
    const char* text;
  };
  const Value values[] = {{0, "Renée"}, {1, "Montréal"}, {2, "Bonjour à tous"}, {0, "42"},
                          {1, "10"},    {2, "#1A2B3C"},  {4, "a@b.fr"},         {3, "<PRENOM>x"}};
  for (const Value& v : values) fuzzin::append(run, v.field, text(v.text));
  write("webhost_request", "profile_and_path", run);
}

void webhostPictureSeeds() {
  const webhost::Image portrait = webhost::generatedPortrait(7, 200, 100, 50);
  const webhost::Image tiny = webhost::coverResize(portrait, 12, 15);
  write("webhost_picture", "portrait_png", text(webhost::encodePng(tiny)));
  // A baseline JPEG and a small GIF reach the other two decoders.
  std::string jpeg;
  stbi_write_jpg_to_func([](void* out, void* data, int size) {
    static_cast<std::string*>(out)->append(static_cast<const char*>(data), static_cast<std::size_t>(size));
  }, &jpeg, tiny.width, tiny.height, 3, tiny.rgb.data(), 80);
  write("webhost_picture", "portrait_jpg", text(jpeg));
  static constexpr unsigned char kGif[] = {
      'G', 'I', 'F', '8', '9', 'a', 2, 0, 2, 0, 0x80, 0, 0, 0xFF, 0, 0, 0, 0, 0xFF, 0x21, 0xF9, 4, 1, 0, 0,
      1, 0, 0x2C, 0, 0, 0, 0, 2, 0, 2, 0, 0, 2, 3, 0x44, 0x34, 0x05, 0, 0x3B};
  write("webhost_picture", "two_by_two_gif", Bytes(kGif, kGif + sizeof kGif));
}

// RIFF WAV streams as a speech engine returns them: a plain one, and one
// with a LIST chunk before its data.
void wavSeeds() {
  auto wav = [](bool list) {
    Bytes b = text("RIFF\0\0\0\0WAVEfmt ");
    const std::uint8_t fmt[] = {16, 0, 0, 0, 1, 0, 1, 0, 0x22, 0x56, 0, 0, 0x44, 0xAC, 0, 0, 2, 0, 16, 0};
    b.insert(b.end(), fmt, fmt + sizeof fmt);
    if (list) {
      const Bytes l = text("LIST\x04\0\0\0INFO");
      b.insert(b.end(), l.begin(), l.end());
    }
    const Bytes d = text("data\x08\0\0\0");
    b.insert(b.end(), d.begin(), d.end());
    for (int i = 0; i < 8; ++i) b.push_back(static_cast<std::uint8_t>(i * 30));
    return b;
  };
  write("wav_walk", "plain", wav(false));
  write("wav_walk", "list_chunk", wav(true));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_seeds OUTDIR\n");
    return 2;
  }
  outDir = argv[1];
  audioSeeds();
  listSeeds();
  relaySeeds();
  webTextSeeds();
  webElementSeeds();
  webRecordSeeds();
  webhostRequestSeeds();
  webhostPictureSeeds();
  wavSeeds();
  return 0;
}
