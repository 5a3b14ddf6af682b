#include "cli/goodscli.h"

#include <ctime>
#include <iostream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "cli/exitcode.h"
#include "cli/explainprofile.h"
#include "cli/options.h"
#include "decode/decode.h"
#include "files/importparse.h"
#include "platform/env.h"
#include "platform/fs.h"
#include "platform/ledger.h"
#include "platform/registry.h"
#include "scale/encodedfile.h"
#include "text/json.h"

namespace tv {
namespace {

constexpr const char* kUsage =
    "usage: tovalink goods --scale N [GOODS...] [--json]\n"
    "       tovalink goods diff --scale N FILE [--json]\n";

struct Options {
  int scale = -1;
  bool json = false;
  bool diff = false;
  std::set<int> goods;
  std::string file;
};

enum : int { kScale = 256, kJson };

std::string Parse(int argc, char** argv, Options& o, bool& help) {
  cli::ParseResult r =
      cli::ParseOptions(argc, argv, {{"scale", true, kScale}, {"json", false, kJson}},
                        [&](int id, const char* value) -> std::string {
                          if (id == kJson) o.json = true;
                          if (id == kScale && (!value || !cli::ParseNumber(value, 0, 255, o.scale)))
                            return "--scale needs a scale number from 0 to 255";
                          return "";
                        });
  help = r.outcome == cli::Parsed::kHelp;
  if (r.outcome == cli::Parsed::kProblem)
    return r.problem.empty() ? "unexpected argument '" + r.unexpected + "'" : r.problem;
  if (o.scale < 0 && !help) return "--scale N is needed";
  std::vector<std::string>& words = r.positional;
  o.diff = !words.empty() && words[0] == "diff";
  if (o.diff) {
    if (words.size() != 2) return "goods diff needs one FILE";
    o.file = words[1];
    return "";
  }
  for (const std::string& w : words) {
    int n = 0;
    if (!cli::ParseNumber(w, 0, 999999, n)) return "'" + w + "' is not a goods number";
    o.goods.insert(n);
  }
  return "";
}

// What the operator reads of a record: decoded from the bytes the scale got.
struct Shown {
  std::string name, price, barcode;
};

Shown Show(const std::vector<uint8_t>& bytes, decode::TextCodePage page) {
  decode::TFrameFields fields;
  decode::DecodeGoodsFrame(bytes.data(), bytes.size(), page, &fields);
  Shown s;
  for (const decode::TFrameField& f : fields) {
    if (f.name == "price") s.price = f.value;
    if (f.name == "barcode") s.barcode = f.value;
    if (f.name.rfind("name line", 0) == 0) {
      // "\"TEXT\" CR": the text between the quotes.
      const size_t end = f.value.rfind('"');
      if (end > 0 && end != std::string::npos)
        s.name += (s.name.empty() ? "" : " ") + f.value.substr(1, end - 1);
    }
  }
  return s;
}

decode::TextCodePage LabelCodePage(const TScaleProfile& p) {
  if (p.ScaleType == TScaleType::SM700) return decode::TextCodePage::Iso88595;
  return p.TextToOEM ? decode::TextCodePage::Cp866 : decode::TextCodePage::Win1251;
}

std::string When(int64_t since) {
  const std::time_t t = static_cast<std::time_t>(since);
  std::tm local{};
  localtime_r(&t, &local);
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &local);
  return buf;
}

int Fail(std::ostream& err, const std::string& why) {
  err << "tovalink goods: " << why << "\n";
  return cli::kExitFailed;
}

// A scale taken off the list still has its ledger: its texts are read with
// the store's own values then.  A diff needs the scale's own.
bool LoadProfile(const Options& o, TExplainProfile& values, std::string& error) {
  TExplainOptions options;
  options.scale = o.scale;
  if (BuildExplainProfile(platform::Registry::DefaultPath(), options, values, error)) return true;
  if (o.diff) return false;
  return BuildExplainProfile(platform::Registry::DefaultPath(), {}, values, error);
}

// A ledger never written to reads as holding nothing.
platform::Status LoadHoldings(int scale, std::vector<platform::LedgerEntry>& out) {
  platform::Ledger ledger;
  platform::Status s =
      ledger.Open(platform::Ledger::PathBeside(platform::Registry::DefaultPath()), true);
  if (s.IsNotFound()) return platform::Status::OK();
  return s.ok() ? ledger.Holdings(scale, out) : s;
}

void PrintHoldings(const Options& o, const std::vector<platform::LedgerEntry>& held,
                   decode::TextCodePage page, std::ostream& out) {
  std::string json;
  if (!o.json)
    out << cli::Format("%-8s %10s %-14s %-19s %-24s %s\n", "Goods", "Price", "Barcode", "Since",
                       "File", "Name");
  for (const platform::LedgerEntry& e : held) {
    if (!o.goods.empty() && o.goods.count(e.goods) == 0) continue;
    const Shown s = Show(e.bytes, page);
    if (o.json) {
      text::JsonObject j;
      j.Int("goods", e.goods).Str("name", s.name).Str("price", s.price).Str("barcode", s.barcode);
      j.Str("since", When(e.since)).Str("file", e.file);
      json += (json.empty() ? "" : ",") + j.Text();
    } else {
      out << cli::Format("%-8d %10s %-14s %-19s %-24s ", e.goods, s.price.c_str(),
                         s.barcode.c_str(), When(e.since).c_str(), e.file.c_str())
          << s.name << "\n";
    }
  }
  if (o.json) out << "[" << json << "]\n";
}

// The file's goods records as the scale's profile encodes them; deletions
// by goods number.
bool EncodeForScale(const Options& o, const TExplainProfile& values, TEncodedFile& encoded,
                    std::string& error) {
  std::string bytes;
  const platform::Status read = platform::Env::Default()->ReadFile(o.file, &bytes);
  if (!read.ok()) {
    error = read.ToString();
    return false;
  }
  TLineLists lists;
  ParseImportBytes(bytes, values.profile.ImportType, values.host.listSeparator, lists, nullptr);
  EncodeFile(lists, values.profile, values.host, encoded);
  return true;
}

int PrintDiff(const Options& o, const std::vector<platform::LedgerEntry>& held,
              const TEncodedFile& encoded, decode::TextCodePage page, std::ostream& out) {
  std::map<int, const platform::LedgerEntry*> before;
  for (const platform::LedgerEntry& e : held) before[e.goods] = &e;
  std::vector<std::string> lines, json;
  size_t unchanged = 0;
  auto note = [&](const char* what, int goods, const std::string& oldPrice,
                  const std::string& newPrice, const std::string& name) {
    lines.push_back(
        cli::Format("%-9s %-8d %10s %10s  ", what, goods, oldPrice.c_str(), newPrice.c_str()) +
        name);
    text::JsonObject j;
    j.Str("change", what).Int("goods", goods).Str("name", name);
    if (!oldPrice.empty()) j.Str("oldPrice", oldPrice);
    if (!newPrice.empty()) j.Str("newPrice", newPrice);
    json.push_back(j.Text());
  };
  for (const TDeliveryStep& step : encoded.steps) {
    auto it = before.find(step.goodsNumber);
    if (step.kind == TStepKind::Delete && it != before.end()) {
      note("deleted", step.goodsNumber, Show(it->second->bytes, page).price, "",
           Show(it->second->bytes, page).name);
      before.erase(it);
    }
    if (step.kind != TStepKind::Goods || step.length == 0) continue;
    const std::vector<uint8_t> now(encoded.Frame(step), encoded.Frame(step) + step.length);
    const Shown s = Show(now, page);
    if (it == before.end())
      note("new", step.goodsNumber, "", s.price, s.name);
    else if (it->second->bytes == now)
      ++unchanged;
    else
      note("changed", step.goodsNumber, Show(it->second->bytes, page).price, s.price, s.name);
  }
  if (o.json) {
    std::string all;
    for (const std::string& j : json) all += (all.empty() ? "" : ",") + j;
    out << "{\"changes\":[" << all << "],\"unchanged\":" << unchanged << "}\n";
    return cli::kExitDone;
  }
  out << cli::Format("%-9s %-8s %10s %10s  %s\n", "Change", "Goods", "Old price", "New price",
                     "Name");
  for (const std::string& l : lines) out << l << "\n";
  out << unchanged << " unchanged\n";
  return cli::kExitDone;
}

}  // namespace

int RunGoodsCommand(int argc, char** argv, std::ostream& out, std::ostream& err) {
  Options o;
  bool help = false;
  const std::string problem = Parse(argc, argv, o, help);
  if (help) {
    out << kUsage;
    return cli::kExitDone;
  }
  if (!problem.empty()) {
    err << "tovalink goods: " << problem << "\n" << kUsage;
    return cli::kExitUsage;
  }
  TExplainProfile values;
  std::string error;
  if (!LoadProfile(o, values, error)) return Fail(err, error);
  std::vector<platform::LedgerEntry> held;
  if (platform::Status s = LoadHoldings(o.scale, held); !s.ok()) return Fail(err, s.ToString());
  const decode::TextCodePage page = LabelCodePage(values.profile);
  if (!o.diff) {
    // An empty table alone would read as a scale without goods.
    if (held.empty() && !o.json)
      err << "tovalink goods: the ledger vouches for nothing on scale " << o.scale
          << ": nothing acknowledged yet, or a delivery to it is under way or was cut off\n";
    PrintHoldings(o, held, page, out);
    return cli::kExitDone;
  }
  TEncodedFile encoded;
  if (!EncodeForScale(o, values, encoded, error)) return Fail(err, error);
  return PrintDiff(o, held, encoded, page, out);
}

int RunGoodsCommand(int argc, char** argv) {
  return RunGoodsCommand(argc, argv, std::cout, std::cerr);
}

}  // namespace tv
