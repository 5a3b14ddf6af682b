#include <algorithm>
#include <cstdio>
#include <map>
#include <string_view>
#include <utility>
#include <vector>

#include "decode/json.h"
#include "engine/cyclereport.h"
#include "files/importparse.h"
#include "files/importverdict.h"
#include "platform/fs.h"
#include "scale/encodedfile.h"
#include "scale/resultmeaning.h"
#include "cli/explainfile.h"
#include "cli/scalelist.h"

namespace tv {
namespace {

using Entry = std::pair<char, size_t>;  // line code and index in its list

std::string CodeText(char code) {
  const auto u = static_cast<unsigned char>(code);
  if (u >= 0x21 && u < 0x7F) return std::string(1, code);
  char buf[8];
  std::snprintf(buf, sizeof buf, "0x%02X", u);
  return buf;
}

const char* YesNo(bool b) { return b ? "yes" : "no"; }

std::string Separator(char c) {
  return c == 0 ? std::string("(none)") : "'" + std::string(1, c) + "'";
}

const char* ImportTypeName(int t) {
  switch (t) {
    case 0: return "fixed width";
    case 1: return "delimited";
    case 2: return "extended";
    default: return "reads no line";
  }
}

void DescribeValues(const TExplainProfile& v, TExplainReport& r) {
  const TScaleProfile& p = v.profile;
  const std::string type = ScaleTypeName(static_cast<uint8_t>(p.ScaleType));
  r.header.push_back("values: " + v.source);
  r.header.push_back(v.scale + ": " + type + ", barcode type " + std::to_string(p.BarcodeType) +
                     ", use-by-days " + YesNo(p.UseByInDays) + ", const-barcode " +
                     YesNo(p.ConstBarcode));
  r.header.push_back("ImportType " + std::to_string(p.ImportType) + " (" +
                     ImportTypeName(p.ImportType) + "), LabelWidth " +
                     std::to_string(p.LabelWidth) + ", LFormat " + std::to_string(p.LabelFormat) +
                     ", BarPrefix \"" + p.BarPrefix + "\", LongBarCode " + YesNo(p.LongBarCode) +
                     ", m_iNameAlgorithm " + YesNo(p.NameAlgorithm) + ", TextToOEM " +
                     YesNo(p.TextToOEM) + ", ForceDi30 " + YesNo(p.ForceDi30));
  r.header.push_back(
      "text: INGRROWCount " + std::to_string(p.INGRROWCount) + ", SMESSROWCount " +
      std::to_string(p.SMESSROWCount) + ", INGRCOLCount " + std::to_string(p.INGRCOLCount) +
      ", SMESSCOLCount " + std::to_string(p.SMESSCOLCount) + ", MaxMessRowCount " +
      std::to_string(p.MaxMessRowCount) + ", INGRFontSize " + std::to_string(p.IngredientFont) +
      ", SMessFontSize " + std::to_string(p.MessageFont));
  r.header.push_back(
      std::string("separators: ") +
      (v.host.listFrom ? std::string(v.host.listFrom) + " list " : std::string("locale list ")) +
      Separator(v.host.listSeparator) + ", " +
      (v.host.decimalFrom ? std::string(v.host.decimalFrom) + " decimal "
                          : std::string("decimal ")) +
      Separator(v.host.decimalSeparator) + "; stored ListSeparator " + Separator(p.ListSeparator) +
      ", DecimalSeparator " + Separator(p.DecimalSeparator));
  decode::JsonObject j;
  j.Str("source", v.source)
      .Str("scale", v.scale)
      .Str("scaleType", type)
      .Int("barcodeType", p.BarcodeType);
  j.Bool("useByInDays", p.UseByInDays)
      .Bool("constBarcode", p.ConstBarcode)
      .Int("ImportType", p.ImportType);
  j.Int("LabelWidth", p.LabelWidth).Int("LFormat", p.LabelFormat).Str("BarPrefix", p.BarPrefix);
  j.Bool("LongBarCode", p.LongBarCode)
      .Bool("m_iNameAlgorithm", p.NameAlgorithm)
      .Bool("TextToOEM", p.TextToOEM);
  j.Bool("ForceDi30", p.ForceDi30)
      .Int("INGRROWCount", p.INGRROWCount)
      .Int("SMESSROWCount", p.SMESSROWCount);
  j.Int("INGRCOLCount", p.INGRCOLCount).Int("SMESSCOLCount", p.SMESSCOLCount);
  j.Int("MaxMessRowCount", p.MaxMessRowCount).Int("INGRFontSize", p.IngredientFont);
  j.Int("SMessFontSize", p.MessageFont);
  j.Str("localeListSeparator", std::string(1, v.host.listSeparator));
  j.Str("localeDecimalSeparator", std::string(1, v.host.decimalSeparator));
  j.Str("ListSeparator", p.ListSeparator ? std::string(1, p.ListSeparator) : "");
  j.Str("DecimalSeparator", p.DecimalSeparator ? std::string(1, p.DecimalSeparator) : "");
  r.valuesJson = j.Text();
}

decode::TextCodePage LabelCodePage(const TScaleProfile& p) {
  if (p.ScaleType == TScaleType::SM700) return decode::TextCodePage::Iso88595;
  return p.TextToOEM ? decode::TextCodePage::Cp866 : decode::TextCodePage::Win1251;
}

const char* StepTitle(TStepKind kind) {
  switch (kind) {
    case TStepKind::Delete: return "delete";
    case TStepKind::Goods: return "goods record";
    default: return "clock";
  }
}

char StepCode(TStepKind kind) {
  switch (kind) {
    case TStepKind::Delete: return 'D';
    case TStepKind::Clock:
    case TStepKind::CurrentClock:
    case TStepKind::UnreadableClock: return 'T';
    default: return 'A';
  }
}

// The explanation of one filed or skipped line.
class LineExplainer {
 public:
  LineExplainer(const std::vector<TLineNote>& notes, const TEncodedFile& encoded,
                const TExplainProfile& values, TExplainReport& report)
      : encoded_(encoded), report_(report) {
    for (const TLineNote& n : notes)
      if (n.filed) lineOf_[{n.code, n.index}] = n.line;
    for (const TLeftOutLine& l : encoded.leftOut) leftOut_[{l.code, l.entry}] = l.reason;
    AddFrames(LabelCodePage(values.profile));
  }

  void Explain(const TLineNote& n) {
    TExplainItem item;
    decode::JsonObject j;
    j.Int("line", static_cast<int64_t>(n.line)).Str("code", CodeText(n.code));
    std::string outcome;
    std::string reason = n.reason;
    if (n.filed && n.code == 'I') {
      outcome = "accepted: text for goods \"" + n.key + "\"";
    } else if (n.filed) {
      auto left = leftOut_.find({n.code, n.index});
      auto frame = frameOf_.find({n.code, n.index});
      if (left != leftOut_.end()) {
        reason = left->second;
      } else if (frame != frameOf_.end()) {
        outcome = "accepted -> frame " + std::to_string(frame->second);
        j.Int("frame", static_cast<int64_t>(frame->second));
      } else if (currentClock_.count({n.code, n.index})) {
        outcome = "accepted: the clock is set to the time of sending";
      } else {
        outcome = "accepted";
      }
    }
    item.skipped = !reason.empty();
    if (item.skipped) {
      outcome = "skipped: " + reason;
      j.Str("status", "skipped").Str("reason", reason);
    } else {
      j.Str("status", "accepted");
    }
    char head[48];
    std::snprintf(head, sizeof head, "line %4zu  %-4s ", n.line, CodeText(n.code).c_str());
    item.text = head + outcome;
    item.json = j.Text();
    report_.items.push_back(std::move(item));
  }

 private:
  void AddFrames(decode::TextCodePage page) {
    for (const TDeliveryStep& step : encoded_.steps) {
      const Entry entry{StepCode(step.kind), step.entry};
      if (step.kind == TStepKind::CurrentClock) currentClock_[entry] = true;
      if (step.length == 0) continue;
      TExplainFrame frame;
      frame.title = StepTitle(step.kind);
      auto line = lineOf_.find(entry);
      frame.from = line == lineOf_.end() ? "no line" : "line " + std::to_string(line->second);
      frame.bytes.assign(encoded_.Frame(step), encoded_.Frame(step) + step.length);
      frame.json =
          decode::DecodeGoodsFrame(frame.bytes.data(), frame.bytes.size(), page, &frame.fields);
      frameOf_[entry] = report_.AddFrame(std::move(frame));
    }
  }

  const TEncodedFile& encoded_;
  TExplainReport& report_;
  std::map<Entry, size_t> lineOf_;
  std::map<Entry, std::string> leftOut_;
  std::map<Entry, size_t> frameOf_;
  std::map<Entry, bool> currentClock_;
};

// Lines after a Ctrl-Z are never read; the back office may not know its
// export ends with one.
void NoteStop(const std::string& bytes, const TSkippedLines& skips, TExplainReport& report) {
  if (skips.ctrlZLine == 0) return;
  size_t unread = 0;
  const std::string_view rest =
      std::string_view(bytes).substr(std::min(skips.ctrlZEnd, bytes.size()));
  for (size_t from = 0; from < rest.size();) {
    size_t end = rest.find('\n', from);
    if (end == std::string_view::npos) end = rest.size();
    const std::string_view line = rest.substr(from, end - from);
    if (line.find_first_not_of("\r\x1A") != std::string_view::npos) ++unread;
    from = end + 1;
  }
  report.notes.push_back("reading stopped at a Ctrl-Z in line " + std::to_string(skips.ctrlZLine) +
                         ": " + std::to_string(unread) +
                         (unread == 1 ? " line after it is" : " lines after it are") + " not read");
}

}  // namespace

void ExplainGoodsFile(const std::string& bytes, const TExplainProfile& values,
                      TExplainReport& report) {
  report.kind = "goods";
  DescribeValues(values, report);
  const TScaleProfile& p = values.profile;
  if (p.ImportType > itExtended) {
    report.items.push_back(
        {"every line  skipped: ImportType " + std::to_string(p.ImportType) + " reads no line",
         "{\"status\":\"skipped\",\"reason\":\"ImportType reads no line\"}", true});
    report.notes.push_back("nothing would be delivered: code 6, " +
                           std::string(ResultMeaning(kResultNothingToSend)));
    return;
  }
  TLineLists lists;
  std::vector<TLineNote> notes;
  const bool deliverable =
      ParseImportBytes(bytes, p.ImportType, values.host.listSeparator, lists, &notes);
  TEncodedFile encoded;
  EncodeFile(lists, p, values.host, encoded);
  LineExplainer explainer(notes, encoded, values, report);
  for (const TLineNote& n : notes) explainer.Explain(n);
  bool sends = false, unencodable = false;
  for (const TDeliveryStep& s : encoded.steps) {
    sends = sends || s.length > 0 || s.kind == TStepKind::CurrentClock;
    unencodable = unencodable || s.kind == TStepKind::Unencodable;
  }
  NoteStop(bytes, lists.skips, report);
  report.notes.push_back("service log: " + FileLinesText(platform::ExtractFileName(report.file),
                                                         WithEncoderSkips(lists, encoded)));
  if (NoGoodsReadable(lists.skips, lists.aLines.size() - encoded.skippedGoods)) {
    report.refused = true;
    report.notes.push_back(
        "the service would send nothing and move the file to Rejected (code 6): " +
        UnreadableGoodsReason(lists.skips, p.ImportType, values.host.listSeparator));
    return;
  }
  if (!deliverable || !sends) {
    report.refused = true;
    report.notes.push_back("no frame would be sent: the delivery ends with code 6, " +
                           std::string(ResultMeaning(kResultNothingToSend)));
  }
  if (unencodable)
    report.notes.push_back("a goods record cannot be encoded: the delivery ends with code 4, " +
                           std::string(ResultMeaning(kResultEncodeFailed)));
}

}  // namespace tv
