#include "engine/statusviews.h"

#include <algorithm>
#include <locale>
#include <set>
#include <sstream>

#include "scale/resultmeaning.h"
#include "tovalink/version.h"

namespace tv {
namespace {

// A label value never breaks out of its quotes.
std::string LabelValue(const std::string& s) {
  std::string out;
  for (char c : s) {
    if (c == '\\' || c == '"')
      out += {'\\', c};
    else if (c == '\n')
      out += "\\n";
    else
      out += c;
  }
  return out;
}

class TExposition {
 public:
  // Numbers in the format's own notation, whatever the host's locale.
  TExposition() { out_.imbue(std::locale::classic()); }
  void Family(const char* name, const char* type, const char* help) {
    out_ << "# HELP " << name << " " << help << "\n# TYPE " << name << " " << type << "\n";
  }
  void Sample(const char* name, long long value, const std::string& labels = {}) {
    out_ << name;
    if (!labels.empty()) out_ << "{" << labels << "}";
    out_ << " " << value << "\n";
  }
  void Seconds(const char* name, double value) { out_ << name << " " << value << "\n"; }
  std::string Text() const { return out_.str(); }

 private:
  std::ostringstream out_;
};

std::string ScaleLabel(int n) { return "scale=\"" + std::to_string(n) + "\""; }

// Every scale either source knows of: the log, the parked files, the facts.
std::set<int> ScaleNumbers(const TLocalStatus& s) {
  std::set<int> out;
  for (const auto& entry : s.scales) out.insert(entry.first);
  if (s.facts)
    for (const auto& entry : s.facts->scales) out.insert(entry.first);
  return out;
}

const TScaleFacts* FactsOf(const TLocalStatus& s, int n) {
  if (!s.facts) return nullptr;
  auto it = s.facts->scales.find(n);
  return it == s.facts->scales.end() ? nullptr : &it->second;
}

// Counters from the service's start; the latest delivery's as gauges, only
// for a scale delivered to since.
void RecordMetrics(const TLocalStatus& s, const std::set<int>& numbers, TExposition& e) {
  e.Family("tovalink_scale_records_sent_total", "counter",
           "Goods records the scale acknowledged since start.");
  for (int n : numbers)
    if (const TScaleFacts* f = FactsOf(s, n))
      e.Sample("tovalink_scale_records_sent_total", f->recordsSentTotal, ScaleLabel(n));
  e.Family("tovalink_scale_records_skipped_total", "counter",
           "Goods records not sent to the scale since start: delta delivery found them held.");
  for (int n : numbers)
    if (const TScaleFacts* f = FactsOf(s, n))
      e.Sample("tovalink_scale_records_skipped_total", f->recordsSkippedTotal, ScaleLabel(n));
  e.Family("tovalink_scale_last_delivery_records_sent", "gauge",
           "Goods records the scale acknowledged in its latest delivery.");
  for (int n : numbers)
    if (const TScaleFacts* f = FactsOf(s, n); f && f->recordsCounted)
      e.Sample("tovalink_scale_last_delivery_records_sent", f->recordsSent, ScaleLabel(n));
  e.Family("tovalink_scale_last_delivery_records_skipped", "gauge",
           "Goods records its latest delivery left out as held by the scale.");
  for (int n : numbers)
    if (const TScaleFacts* f = FactsOf(s, n); f && f->recordsCounted)
      e.Sample("tovalink_scale_last_delivery_records_skipped", f->recordsSkipped, ScaleLabel(n));
}

void ScaleMetrics(const TLocalStatus& s, std::time_t now, TExposition& e) {
  const std::set<int> numbers = ScaleNumbers(s);
  e.Family("tovalink_scale_last_result_code", "gauge",
           "Result code of the scale's last logged delivery (0 delivered).");
  for (int n : numbers)
    if (const TScaleHistory* h = s.Find(n); h && h->lastCode >= 0)
      e.Sample("tovalink_scale_last_result_code", h->lastCode, ScaleLabel(n));
  e.Family("tovalink_scale_failing", "gauge", "1 while the scale's last delivery attempt failed.");
  for (int n : numbers)
    if (const TScaleFacts* f = FactsOf(s, n); f && f->known)
      e.Sample("tovalink_scale_failing", f->delivered ? 0 : 1, ScaleLabel(n));
  e.Family("tovalink_scale_last_attempt_timestamp_seconds", "gauge",
           "Unix time of the last delivery attempt since start.");
  for (int n : numbers)
    if (const TScaleFacts* f = FactsOf(s, n); f && f->lastAttempt)
      e.Sample("tovalink_scale_last_attempt_timestamp_seconds", f->lastAttempt, ScaleLabel(n));
  e.Family("tovalink_scale_last_success_timestamp_seconds", "gauge",
           "Unix time of the last delivery since start.");
  for (int n : numbers)
    if (const TScaleFacts* f = FactsOf(s, n); f && f->lastSuccess)
      e.Sample("tovalink_scale_last_success_timestamp_seconds", f->lastSuccess, ScaleLabel(n));
  e.Family("tovalink_scale_parked_files", "gauge", "Files parked in Unsent for the scale.");
  for (int n : numbers) {
    const TScaleHistory* h = s.Find(n);
    e.Sample("tovalink_scale_parked_files", h ? h->parked : 0, ScaleLabel(n));
  }
  e.Family("tovalink_scale_oldest_parked_age_seconds", "gauge",
           "Age of the scale's oldest parked file; 0 when none.");
  for (int n : numbers) {
    const TScaleHistory* h = s.Find(n);
    const long long age = h && h->parked > 0 ? std::max<long long>(0, now - h->oldestParked) : 0;
    e.Sample("tovalink_scale_oldest_parked_age_seconds", age, ScaleLabel(n));
  }
  e.Family("tovalink_scale_frames_sent_total", "counter",
           "Goods frames sent to the scale since start.");
  for (int n : numbers)
    if (const TScaleFacts* f = FactsOf(s, n))
      e.Sample("tovalink_scale_frames_sent_total", f->frames, ScaleLabel(n));
  e.Family("tovalink_scale_deliveries_total", "counter",
           "Goods delivery attempts since start, by result code.");
  for (int n : numbers)
    if (const TScaleFacts* f = FactsOf(s, n))
      for (const auto& [code, count] : f->deliveries)
        e.Sample("tovalink_scale_deliveries_total", count,
                 ScaleLabel(n) + ",code=\"" + std::to_string(code) + "\"");
  RecordMetrics(s, numbers, e);
}

void ServiceMetrics(const TLocalStatus& s, TExposition& e) {
  e.Family("tovalink_files_waiting", "gauge", "Files waiting in the export directory.");
  if (s.filesWaiting) e.Sample("tovalink_files_waiting", *s.filesWaiting);
  const TFactsRecord facts = s.facts.value_or(TFactsRecord{});
  e.Family("tovalink_files_rejected_total", "counter", "Export files rejected since start.");
  e.Sample("tovalink_files_rejected_total", facts.rejected.count);
  e.Family("tovalink_cycles_total", "counter", "Export cycles finished since start.");
  e.Sample("tovalink_cycles_total", facts.cycles);
  e.Family("tovalink_cycle_duration_seconds_total", "counter",
           "Summed duration of the finished export cycles.");
  e.Seconds("tovalink_cycle_duration_seconds_total", static_cast<double>(facts.cyclesMs) / 1000.0);
  e.Family("tovalink_last_cycle_duration_seconds", "gauge",
           "Duration of the last finished export cycle.");
  if (!facts.recentCycles.empty())
    e.Seconds("tovalink_last_cycle_duration_seconds",
              static_cast<double>(facts.recentCycles.back().ms) / 1000.0);
  e.Family("tovalink_records_sent_total", "counter",
           "Goods records the scales acknowledged since start, all scales summed.");
  e.Sample("tovalink_records_sent_total", facts.recordsSent);
  e.Family("tovalink_records_skipped_total", "counter",
           "Goods records delta delivery left out as held since start, all scales summed.");
  e.Sample("tovalink_records_skipped_total", facts.recordsSkipped);
  e.Family("tovalink_exports_locked", "gauge", "1 while exporting is locked.");
  e.Sample("tovalink_exports_locked", s.exportsLockedSince ? 1 : 0);
  e.Family("tovalink_configuration_error", "gauge",
           "1 while a stored value cannot be used or cycles cannot run.");
  e.Sample("tovalink_configuration_error",
           facts.settingsFault.empty() && facts.cyclesBlocked.empty() ? 0 : 1);
  e.Family("tovalink_build_info", "gauge", "The running build; always 1.");
  e.Sample("tovalink_build_info", 1, "version=\"" + LabelValue(kVersion) + "\"");
  e.Family("tovalink_start_time_seconds", "gauge", "Unix time the service started.");
  if (facts.started) e.Sample("tovalink_start_time_seconds", static_cast<long long>(facts.started));
}

std::string Stamp(std::time_t t) {
  if (t == 0) return "never";
  std::tm tm{};
  localtime_r(&t, &tm);
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &tm);
  return buf;
}

const char* StateOf(const TScaleFacts* f) {
  if (f == nullptr || !f->known) return f && f->busy ? "busy" : "unknown";
  if (f->busy) return "busy";
  return f->delivered ? "delivered" : "failed";
}

// The latest delivery's, then the sums: "2 sent, 8 skipped (since start 12, 8)".
std::string RecordsCell(const TScaleFacts* f) {
  if (f == nullptr || !f->recordsCounted) return "-";
  return std::to_string(f->recordsSent) + " sent, " + std::to_string(f->recordsSkipped) +
         " skipped (since start " + std::to_string(f->recordsSentTotal) + ", " +
         std::to_string(f->recordsSkippedTotal) + ")";
}

void ScaleRows(const TLocalStatus& s, std::time_t now, std::ostringstream& out) {
  out << "<table id=\"scales\"><thead><tr><th>Scale</th><th>State</th><th>Cause</th>"
         "<th>Last attempt</th><th>Last success</th><th>Parked</th><th>Goods records sent, skipped "
         "as held</th></tr>"
         "</thead><tbody>\n";
  for (int n : ScaleNumbers(s)) {
    const TScaleFacts* f = FactsOf(s, n);
    const TScaleHistory* h = s.Find(n);
    const char* state = StateOf(f);
    std::string parked = std::to_string(h ? h->parked : 0);
    if (h && h->parked > 0)
      parked += " (oldest " + std::to_string((now - h->oldestParked) / 60) + " min)";
    std::string cause = f ? f->cause : "";
    if (cause.empty() && h && h->lastCode > 0)
      cause = "code " + std::to_string(h->lastCode) + ", " + ResultMeaning(h->lastCode);
    out << "<tr class=\"" << state << "\" data-scale=\"" << n << "\"><td>" << n << "</td><td>"
        << state << "</td><td>" << HtmlEscape(cause) << "</td><td>"
        << (f && f->lastAttempt
                ? Stamp(f->lastAttempt)
                : HtmlEscape(h && !h->lastAttempt.empty() ? h->lastAttempt : "never"))
        << "</td><td>"
        << (f && f->lastSuccess
                ? Stamp(f->lastSuccess)
                : HtmlEscape(h && !h->lastSuccess.empty() ? h->lastSuccess : "never"))
        << "</td><td>" << HtmlEscape(parked) << "</td><td>" << RecordsCell(f) << "</td></tr>\n";
  }
  out << "</tbody></table>\n";
}

void ServiceFacts(const TLocalStatus& s, std::ostringstream& out) {
  const TFactsRecord facts = s.facts.value_or(TFactsRecord{});
  out << "<ul id=\"service\">\n<li>Files waiting: "
      << (s.filesWaiting ? std::to_string(*s.filesWaiting)
                         : "the export directory cannot be listed")
      << "</li>\n";
  out << "<li id=\"locked\">Exporting: "
      << (s.exportsLockedSince ? "locked since " + Stamp(*s.exportsLockedSince)
                               : std::string("not locked"))
      << "</li>\n";
  out << "<li>Rejected files: " << facts.rejected.count;
  if (facts.rejected.count > 0)
    out << ", newest " << HtmlEscape(facts.rejected.newest) << ": "
        << HtmlEscape(facts.rejected.reason);
  out << "</li>\n";
  if (!facts.cyclesBlocked.empty())
    out << "<li class=\"failed\">Cycles blocked: " << HtmlEscape(facts.cyclesBlocked) << "</li>\n";
  if (!facts.settingsFault.empty())
    out << "<li class=\"failed\">Settings: " << HtmlEscape(facts.settingsFault) << "</li>\n";
  out << "</ul>\n<h2>Last cycles</h2>\n<table "
         "id=\"cycles\"><thead><tr><th>Started</th><th>Duration</th></tr></thead><tbody>\n";
  for (auto it = facts.recentCycles.rbegin(); it != facts.recentCycles.rend(); ++it)
    out << "<tr><td>" << Stamp(it->started) << "</td><td>" << it->ms / 1000.0 << " s</td></tr>\n";
  out << "</tbody></table>\n";
}

constexpr const char* kStyle =
    "body{font-family:sans-serif;margin:1em 2em;color:#222}"
    "table{border-collapse:collapse;margin-bottom:1em}"
    "th,td{border:1px solid #bbb;padding:.3em .7em;text-align:left}"
    "th{background:#eee}tr.failed td,li.failed{background:#fdd}tr.delivered td{background:#dfd}"
    "tr.busy td{background:#ffd}";

}  // namespace

std::string HtmlEscape(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      default: out += c;
    }
  }
  return out;
}

std::string RenderMetrics(const TLocalStatus& status, std::time_t now) {
  TExposition e;
  ScaleMetrics(status, now, e);
  ServiceMetrics(status, e);
  return e.Text();
}

std::string RenderStatusPage(const TLocalStatus& status, std::time_t now) {
  std::ostringstream out;
  out << "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\">"
         "<meta http-equiv=\"refresh\" content=\"30\"><title>Tovalink status</title><style>"
      << kStyle << "</style></head><body>\n<h1>Tovalink status</h1>\n<p>As of " << Stamp(now)
      << "; this page reloads every 30 seconds.</p>\n<h2>Scales</h2>\n";
  ScaleRows(status, now, out);
  out << "<h2>Service</h2>\n";
  ServiceFacts(status, out);
  out << "</body></html>\n";
  return out.str();
}

}  // namespace tv
