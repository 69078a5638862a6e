// Activity at a glance: a background thread samples the relay once a minute
// into the store (30 days kept), and the console draws the samples as small
// server-side SVG charts.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <thread>

#include "Orva-Lin/net/channels.h"
#include "servers/webhost/webhost.h"

namespace webhost {

namespace {

constexpr int kSampleSeconds = 60;
constexpr long long kBlockMicros = proto::kBlockMicros;

void sampleForever() {
  unsigned long long previous[proto::kChannelCount] = {};
  bool haveBaseline = false;
  long long lastStamp = 0;
  for (;;) {
    // Samples fall on whole minutes, so charts bucket them cleanly.
    const long long now = static_cast<long long>(std::time(nullptr));
    std::this_thread::sleep_for(std::chrono::seconds(kSampleSeconds - now % kSampleSeconds));
    const long long stamp = static_cast<long long>(std::time(nullptr)) / kSampleSeconds * kSampleSeconds;
    RelayView view;
    std::string error;
    if (!readRelay(view, error)) {
      haveBaseline = false;   // the relay may come back restarted, its counts from zero
      continue;
    }
    ActivitySample samples[proto::kChannelCount];
    const long long elapsedMs = lastStamp ? (stamp - lastStamp) * 1000 : kSampleSeconds * 1000;
    for (int ch = 0; ch < proto::kChannelCount; ++ch) {
      const unsigned long long blocks = view.channel[ch].voiceBlocks;
      const unsigned long long grown = !haveBaseline ? 0 : blocks >= previous[ch] ? blocks - previous[ch] : blocks;
      previous[ch] = blocks;
      const long long talkMs = static_cast<long long>(grown) * kBlockMicros / 1000;
      samples[ch] = {ch, view.channel[ch].members, std::min(talkMs, elapsedMs)};
    }
    haveBaseline = true;
    lastStamp = stamp;
    if (!saveActivity(stamp, samples, proto::kChannelCount)) logLine("activity: cannot save the sample");
  }
}

std::string number(double value) {
  char text[32];
  std::snprintf(text, sizeof text, value < 10 && value != static_cast<long long>(value) ? "%.1f" : "%.0f", value);
  return text;
}

// 24 bars, oldest hour on the left; `unit` names the value in each bar's tooltip.
std::string bars(const double (&values)[24], const char* colour, const char* caption, const char* unit) {
  const double top = std::max(1.0, *std::max_element(values, values + 24));
  std::string svg = "<svg class=\"graphe\" width=\"196\" height=\"46\" viewBox=\"0 0 196 46\" role=\"img\" aria-label=\"" +
                    std::string(caption) + "\"><rect x=\"0\" y=\"0\" width=\"196\" height=\"36\" fill=\"#1b2230\"/>";
  for (int h = 0; h < 24; ++h) {
    const int height = static_cast<int>(values[h] / top * 34 + 0.5);
    svg += "<rect x=\"" + std::to_string(2 + h * 8) + "\" y=\"" + std::to_string(36 - height) +
           "\" width=\"6\" height=\"" + std::to_string(height) + "\" fill=\"" + colour + "\"><title>il y a " +
           std::to_string(24 - h) + " h : " + number(values[h]) + " " + unit + "</title></rect>";
  }
  svg += "<text x=\"2\" y=\"45\" font-size=\"9\" fill=\"#aaa\">" + std::string(caption) + " (max " + number(top) +
         ")</text></svg>";
  return svg;
}

constexpr const char* kDays[7] = {"dimanche", "lundi", "mardi", "mercredi", "jeudi", "vendredi", "samedi"};

}  // namespace

void startActivitySampler() { std::thread(sampleForever).detach(); }

std::string activityHtml(long long now) {
  const long long dayStart = now - 24 * 3600;
  std::vector<ActivityRow> rows;
  std::vector<std::pair<long long, long long>> hours;
  if (!loadActivity(dayStart, rows) || !loadHourlyTalk(now - 30LL * 24 * 3600, hours))
    return "<p class=\"erreur\">Activité illisible (erreur de la base).</p>";
  double present[proto::kChannelCount][24] = {}, talk[proto::kChannelCount][24] = {};
  int samples[proto::kChannelCount][24] = {};
  double week[7][24] = {};
  for (const auto& [hour, talkMs] : hours) {
    std::time_t t = static_cast<std::time_t>(hour);
    std::tm local{};
    localtime_r(&t, &local);
    week[local.tm_wday][local.tm_hour] += static_cast<double>(talkMs) / 60000.0;
  }
  for (const ActivityRow& r : rows) {
    if (r.channel < 0 || r.channel >= proto::kChannelCount) continue;
    const int h = static_cast<int>(std::min<long long>(23, (r.stamp - dayStart) / 3600));
    present[r.channel][h] += r.members;
    ++samples[r.channel][h];
    talk[r.channel][h] += static_cast<double>(r.talkMs) / 60000.0;
  }
  std::string html = "<div class=\"activite\">";
  for (int ch = 0; ch < proto::kChannelCount; ++ch) {
    for (int h = 0; h < 24; ++h)
      if (samples[ch][h]) present[ch][h] /= samples[ch][h];
    html += "<div class=\"carte\"><b>" + std::to_string(ch) + " — " + htmlEscape(utf8(channels::kNames[ch])) +
            "</b><br>" + bars(present[ch], "#7cf", "présents, 24 h", "membres en moyenne") +
            bars(talk[ch], "#fc6", "parole, 24 h", "min") + "</div>";
  }
  html += "</div><h3>Heures les plus animées de la semaine</h3>";
  double top = 0;
  for (auto& day : week) top = std::max(top, *std::max_element(day, day + 24));
  html += "<svg class=\"semaine\" width=\"560\" height=\"160\" viewBox=\"0 0 560 160\" role=\"img\" "
          "aria-label=\"temps de parole par heure de la semaine, 30 jours\">";
  for (int d = 0; d < 7; ++d) {
    const int row = (d + 6) % 7;   // Monday first
    html += "<text x=\"0\" y=\"" + std::to_string(row * 20 + 14) + "\" font-size=\"11\" fill=\"#ccc\">" + kDays[d] + "</text>";
    for (int h = 0; h < 24; ++h) {
      const double share = top > 0 ? week[d][h] / top : 0;
      char fill[16];
      std::snprintf(fill, sizeof fill, "%.2f", 0.08 + 0.92 * share);
      html += "<rect x=\"" + std::to_string(70 + h * 20) + "\" y=\"" + std::to_string(row * 20 + 2) +
              "\" width=\"18\" height=\"18\" fill=\"#fc6\" fill-opacity=\"" + fill + "\"><title>" + kDays[d] + " " +
              std::to_string(h) + " h : " + number(week[d][h]) + " min de parole</title></rect>";
    }
  }
  for (int h = 0; h < 24; h += 3)
    html += "<text x=\"" + std::to_string(70 + h * 20) + "\" y=\"156\" font-size=\"10\" fill=\"#aaa\">" +
            std::to_string(h) + " h</text>";
  html += "</svg>";
  if (hours.empty()) html += "<p><small>Aucun relevé encore : le relais est relevé chaque minute.</small></p>";
  return html;
}

}  // namespace webhost
