#include "scalesim/options.h"

#include <cstdlib>

namespace tv::sim {
namespace {

bool ParseInt(const std::string& s, long min, long max, int& out) {
  if (s.empty()) return false;
  char* end = nullptr;
  long v = std::strtol(s.c_str(), &end, 0);  // base 0: 0x15 and 21 alike
  if (*end != '\0' || v < min || v > max) return false;
  out = static_cast<int>(v);
  return true;
}

// "1,2,5" and ranges "1-4".
bool ParseScaleList(const std::string& s, std::vector<int>& out) {
  size_t start = 0;
  while (start <= s.size()) {
    size_t comma = s.find(',', start);
    std::string item = s.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
    size_t dash = item.find('-');
    int from, to;
    if (dash == std::string::npos) {
      if (!ParseInt(item, 0, 255, from)) return false;
      to = from;
    } else if (!ParseInt(item.substr(0, dash), 0, 255, from) ||
               !ParseInt(item.substr(dash + 1), from, 255, to)) {
      return false;
    }
    for (int n = from; n <= to; ++n) out.push_back(n);
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  return !out.empty();
}

// "n=value" for the per-scale switches.
bool ParseScaleValue(const std::string& s, long max, int& scale, int& value) {
  size_t eq = s.find('=');
  return eq != std::string::npos && ParseInt(s.substr(0, eq), 0, 255, scale) &&
         ParseInt(s.substr(eq + 1), -1, max, value);
}

bool ApplyScaleSwitch(const std::string& name, const std::string& arg, SimOptions& o) {
  int scale = 0, value = 0;
  if (name == "--never") {
    if (!ParseInt(arg, 0, 255, scale)) return false;
    Behaviour& b = o.behaviours[scale];
    b.neverAnswer = b.sm700NeverAnswer = true;
    return true;
  }
  bool isByte = name == "--answer" || name == "--hello";
  if (!ParseScaleValue(arg, isByte ? 255 : 3600000, scale, value)) return false;
  if (isByte && value < 0) return false;
  Behaviour& b = o.behaviours[scale];
  uint8_t byte = static_cast<uint8_t>(value);
  if (name == "--answer") {
    b.goodsAnswer = b.deleteAnswer = b.clockAnswer = b.recordAnswer = byte;
  } else if (name == "--hello") {
    b.helloAnswer = byte;
  } else if (name == "--close-after") {
    b.closeAfterFrames = b.sm700CloseAfterRecords = value;
  } else if (name == "--delay") {
    b.delayMs = value;
  } else if (name == "--refuse") {
    // Whichever protocol the scale speaks.
    b.sm700RefuseRecordNo = b.goodsRefuseRecordNo = value;
  } else {
    return false;
  }
  return true;
}

bool ParseText(const std::string& s, SimOptions& o) {
  size_t eq = s.find('=');
  int scale;
  if (eq == std::string::npos || !ParseInt(s.substr(0, eq), 0, 255, scale)) return false;
  std::string page = s.substr(eq + 1);
  Behaviour& b = o.behaviours[scale];
  if (page == "cp866") {
    b.goodsText = TextCodePage::Cp866;
  } else if (page == "iso8859-5") {
    b.goodsText = TextCodePage::Iso88595;
  } else if (page == "cp1251") {
    b.goodsText = TextCodePage::Win1251;
  } else {
    return false;
  }
  return true;
}

}  // namespace

const char kSimUsage[] =
    "usage: tovalink-scalesim --scales LIST [--prefix 127.0.0.] [--port-base 2000]\n"
    "         [--sm700] [--sm700-base PORT] [--answer N=BYTE] [--hello N=BYTE]\n"
    "         [--never N] [--close-after N=COUNT] [--delay N=MS] [--refuse N=RECORD]\n"
    "         [--text N=cp866|iso8859-5|cp1251] [--out FILE]\n"
    "Plays scale n at PREFIXn:port-base+n (goods protocol, or SM700 with --sm700)\n"
    "and writes every frame received as a JSON line until SIGINT or SIGTERM.\n"
    "  --scales LIST         the scale numbers to play: 1,2,5 or ranges 1-4\n"
    "  --prefix P            loopback address prefix; scale n listens at Pn\n"
    "  --port-base B         scale n listens at port B+n\n"
    "  --sm700               port B+n speaks the SM700 protocol instead of goods\n"
    "  --sm700-base S        each scale also speaks SM700 (keyboard) at port S+n\n"
    "  --answer N=BYTE       scale N answers every goods, delete, clock and SM700\n"
    "                        record frame with BYTE (0x15: refused)\n"
    "  --hello N=BYTE        scale N answers the SM700 opening message with BYTE\n"
    "  --never N             scale N reads frames but never answers (a hung scale)\n"
    "  --close-after N=C     scale N closes each connection after answering C frames\n"
    "  --delay N=MS          scale N waits MS milliseconds before every answer\n"
    "  --refuse N=R          scale N refuses (0x15) every attempt of the record after\n"
    "                        R accepted ones, goods or SM700 (0-based)\n"
    "  --text N=PAGE         the code page scale N decodes label texts with\n"
    "  --out FILE            the JSON lines go to FILE instead of standard output\n"
    "  --help, -h            this text\n";

Behaviour SimOptions::BehaviourOf(int scale) const {
  auto it = behaviours.find(scale);
  return it == behaviours.end() ? Behaviour{} : it->second;
}

bool ParseSimOptions(const std::vector<std::string>& args, SimOptions& o, std::string& error) {
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--help" || a == "-h") {
      o.help = true;
      return true;
    }
    if (a == "--sm700") {
      o.sm700Only = true;
      continue;
    }
    if (i + 1 >= args.size()) {
      error = "missing value after " + a;
      return false;
    }
    const std::string& v = args[++i];
    bool ok = true;
    if (a == "--prefix") {
      o.prefix = v;
    } else if (a == "--out") {
      o.outFile = v;
      ok = !v.empty();
    } else if (a == "--scales") {
      ok = ParseScaleList(v, o.scales);
    } else if (a == "--port-base") {
      ok = ParseInt(v, 1, 65535, o.portBase);
    } else if (a == "--sm700-base") {
      ok = ParseInt(v, 1, 65535, o.sm700Base);
    } else if (a == "--text") {
      ok = ParseText(v, o);
    } else {
      ok = ApplyScaleSwitch(a, v, o);
    }
    if (!ok) {
      error = "cannot use " + a + " " + v;
      return false;
    }
  }
  if (o.scales.empty()) {
    error = "no --scales given";
    return false;
  }
  if (o.prefix.rfind("127.", 0) != 0) {
    error = "prefix " + o.prefix + " is not loopback (127.)";
    return false;
  }
  for (int n : o.scales) {
    if (o.portBase + n > 65535 || (o.sm700Base && o.sm700Base + n > 65535)) {
      error = "port of scale " + std::to_string(n) + " beyond 65535";
      return false;
    }
  }
  return true;
}

}  // namespace tv::sim
