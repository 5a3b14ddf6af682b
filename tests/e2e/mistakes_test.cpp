// The real service and commands with the mistakes a shop makes first: a
// goods file read with the wrong layout or separator, a keyboard file no
// scale can take.  None of them may look delivered.
#include <gtest/gtest.h>

#include <algorithm>
#include <regex>

#include "config/storedvalues.h"
#include "site.h"

namespace tv::test {
namespace {

bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

size_t Count(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

// The goods-file documentation's example in its two conventions.
const std::string kSemicolonFile =
    "A;2001234;000123;x;x;0;0;1,50;5;x;Apple\r\n"
    "I;000123;Flour;Sugar;\r\n"
    "D;77\r\n"
    "T;2024;3;5;9;7\r\n";
const std::string kCommaFile =
    "A,2001234,000123,x,x,0,0,1.50,5,x,Apple\r\n"
    "I,000123,Flour,Sugar,\r\n"
    "D,77\r\n"
    "T,2024,3,5,9,7\r\n";

std::vector<LogLine> LinesFor(const Site& site, const std::string& file) {
  std::vector<LogLine> out;
  for (const LogLine& l : site.Log())
    if (l.file == file) out.push_back(l);
  return out;
}

int Explain(const Site& site, const std::string& path, std::string& out,
            std::vector<std::string> extra = {}) {
  std::vector<std::string> args = {TovalinkBinary(), "explain", path};
  args.insert(args.end(), extra.begin(), extra.end());
  return RunBinary(args, {"TOVALINK_HOME=" + site.home.Path(), "LC_ALL=C"}, out);
}

// One cycle per file, each a fresh site, so the cause of each is its own.
void ExpectRejectedUnsent(int importType, const std::string& content, const std::string& cause) {
  Site site;
  site.AddScale(3);
  site.SetScales({3});
  site.SetValue("ImportType", importType);
  site.Start();
  site.Drop("prices.txt", content);
  ASSERT_TRUE(site.WaitForLog(1)) << site.Output();
  ASSERT_TRUE(WaitUntil([&] { return !site.Rejected().empty(); }, 10000)) << site.Output();
  EXPECT_EQ(site.Stop(), 0);
  EXPECT_TRUE(site.Scale(3).Frames().empty()) << "no deletion, no clock, nothing";
  const auto lines = LinesFor(site, "prices.txt");
  ASSERT_EQ(lines.size(), 1u) << site.output;
  EXPECT_EQ(lines[0].code, 6);
  EXPECT_EQ(lines[0].address, "");
  EXPECT_EQ(site.Rejected(), std::vector<std::string>{"prices.txt"});
  EXPECT_TRUE(Has(site.output, cause)) << site.output;
  EXPECT_TRUE(site.Unsent().empty());

  // explain refuses it the same way, with the same cause.
  std::string out;
  const std::string path = site.home / "again.txt";
  WriteFile(path, content);
  EXPECT_EQ(Explain(site, path, out), 2) << out;
  EXPECT_TRUE(Has(out, cause)) << out;
  // ... and counts its lines as the service log did.
  const size_t counted = site.output.find("prices.txt: ");
  ASSERT_NE(counted, std::string::npos) << site.output;
  const std::string line =
      site.output.substr(counted + 12, site.output.find('\n', counted) - counted - 12);
  EXPECT_TRUE(Has(out, "service log: again.txt: " + line)) << line << "\n" << out;
}

TEST(WrongLayout, ASemicolonFileReadAtCommasIsRejectedWithItsCause) {
  ExpectRejectedUnsent(1, kSemicolonFile,
                       "the lines look ';'-separated, ImportType 1 splits at ','");
}

TEST(WrongLayout, ADelimitedFileReadAsFixedColumnsIsRejectedWithItsCause) {
  ExpectRejectedUnsent(0, kCommaFile, "the lines look delimited, ImportType 0 reads fixed columns");
}

TEST(WrongLayout, AFileWithSomeLinesSkippedIsDeliveredAndCountedAlikeByExplain) {
  Site site;
  site.AddScale(3);
  site.SetScales({3});
  site.SetValue("ImportType", 1);
  const std::string file = kCommaFile + "A,broken\r\n";
  const std::string path = site.home / "copy.txt";
  WriteFile(path, file);
  std::string explained;
  EXPECT_EQ(Explain(site, path, explained), 2) << explained;
  site.Start();
  site.Drop("prices.txt", file);
  ASSERT_TRUE(site.WaitForLog(1)) << site.Output();
  EXPECT_EQ(site.Stop(), 0);
  const auto lines = LinesFor(site, "prices.txt");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].code, 0);
  EXPECT_TRUE(site.Rejected().empty());
  const std::string counted = "5 lines read, 1 skipped; first skipped: line 5";
  EXPECT_TRUE(Has(site.output, "prices.txt: " + counted)) << site.output;
  EXPECT_TRUE(Has(explained, "service log: copy.txt: " + counted)) << explained;
}

TEST(WrongLayout, ExplainRefusesAnEmptyFileAndTellsWhereACtrlZStoppedReading) {
  Site site;
  const std::string empty = site.home / "empty.txt";
  WriteFile(empty, "");
  std::string out;
  EXPECT_EQ(Explain(site, empty, out), 2) << out;
  EXPECT_TRUE(Has(out, "code 6")) << out;

  const std::string cut = site.home / "cut.txt";
  WriteFile(cut, GoodsFile() + "\x1A" + GoodsFile(124) + GoodsFile(125));
  EXPECT_EQ(Explain(site, cut, out), 0) << out;
  EXPECT_TRUE(Has(out, "reading stopped at a Ctrl-Z in line 4: 6 lines after it are not read"))
      << out;
}

}  // namespace
}  // namespace tv::test

namespace tv::test {
namespace {

const std::string kIsoSeconds = R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d[+-]\d\d:\d\d)";

TEST(Times, LogLinesAndJsonOutputsCarryIsoTimesTheCsvLogKeepsItsOwn) {
  Site site;
  site.AddHealthyAndRefusing(3, 4);
  site.Start();
  site.Drop("prices.txt", GoodsFile());
  ASSERT_TRUE(site.WaitForLog(2)) << site.Output();
  ASSERT_TRUE(WaitUntil([&] { return site.Unsent().size() == 1; }, 10000)) << site.Output();
  EXPECT_EQ(site.Stop(), 0);
  const std::regex stamped(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d tovalink: .*)");
  const auto lines = Lines(site.output);
  ASSERT_FALSE(lines.empty());
  for (const std::string& line : lines) EXPECT_TRUE(std::regex_match(line, stamped)) << line;

  const std::vector<std::string> env = {"TOVALINK_HOME=" + site.home.Path(), "LC_ALL=C"};
  std::string out;
  ASSERT_EQ(RunBinary({TovalinkBinary(), "unsent", "list", "--json"}, env, out), 0) << out;
  EXPECT_TRUE(std::regex_search(out, std::regex("\"parked_at\":\"" + kIsoSeconds + "\""))) << out;
  const std::string path = site.home / "prices.txt";
  WriteFile(path, GoodsFile());
  ASSERT_EQ(RunBinary({TovalinkBinary(), "explain", path, "--json"}, env, out), 0) << out;
  EXPECT_TRUE(Has(out, "\"datetime\":\"2024-03-05T09:07\"")) << out;
  // The delivery log keeps the locale's date: C writes 03/05/24-style dates.
  const std::string csv = ReadFile(site.logDir + "/sclogo.csv");
  EXPECT_TRUE(std::regex_search(csv, std::regex(R"(^\d\d/\d\d/\d\d,\d\d:\d\d:\d\d,)"))) << csv;
}

}  // namespace
}  // namespace tv::test

namespace tv::test {
namespace {

// Splits a command line as a shell would for the plain quoting check uses.
std::vector<std::string> ShellWords(const std::string& line) {
  std::vector<std::string> words;
  std::string word;
  bool quoted = false, any = false;
  for (char c : line) {
    if (c == '"') {
      quoted = !quoted;
      any = true;
    } else if (c == ' ' && !quoted) {
      if (any) words.push_back(word);
      word.clear();
      any = false;
    } else {
      word += c;
      any = true;
    }
  }
  if (any) words.push_back(word);
  return words;
}

TEST(HostSeparators, ChecksAdviceMakesTheDocumentedSemicolonFileReadableOnAStockHost) {
  Site site;
  site.AddScale(3);
  site.SetScales({3});
  site.SetValue("ImportType", 1);
  const std::vector<std::string> env = {"TOVALINK_HOME=" + site.home.Path(), "LC_ALL=C"};
  std::string out;
  RunBinary({TovalinkBinary(), "check"}, env, out);
  const size_t at = out.find("tovalink reg add ");
  ASSERT_NE(at, std::string::npos) << out;
  std::vector<std::string> advice = ShellWords(out.substr(at, out.find('\n', at) - at));
  ASSERT_GT(advice.size(), 2u);
  advice[0] = TovalinkBinary();
  ASSERT_EQ(RunBinary(advice, env, out), 0) << out;
  RunBinary({TovalinkBinary(), "check"}, env, out);
  EXPECT_FALSE(Has(out, "rarely matches")) << out;

  site.Start();
  site.Drop("prices.txt", kSemicolonFile);
  ASSERT_TRUE(site.WaitForLog(1)) << site.Output();
  EXPECT_EQ(site.Stop(), 0);
  EXPECT_EQ(site.Log()[0].code, 0) << site.output;
  EXPECT_EQ(site.Scale(3).Frames().size(), 3u) << "deletion, goods, clock: " << site.output;
  EXPECT_TRUE(Has(site.output,
                  "list separator ';' (stored HostDecimalSeparator), decimal separator ',' (stored "
                  "HostDecimalSeparator)"))
      << site.output;
  EXPECT_TRUE(site.Rejected().empty());
}

TEST(HostSeparators, ThePortForRemoteSettingsCannotWriteThem) {
  for (const char* name : {"HostListSeparator", "HostDecimalSeparator"}) {
    const config::StoredValue* v = config::FindStoredValue(kProductKey, name);
    ASSERT_NE(v, nullptr) << name;
    EXPECT_FALSE(v->remote) << name;
    EXPECT_FALSE(v->written) << name << " stays absent unless stored";
  }
}

}  // namespace
}  // namespace tv::test

namespace tv::test {
namespace {

int Reg(const Site& site, const std::string& name, const char* type, const std::string& data,
        std::string& out, const char* overwrite = "/f") {
  return RunBinary({TovalinkBinary(), "reg", "add", "HKCU\\SOFTWARE\\Orvane Group\\Tovalin+", "/v",
                    name, "/t", type, "/d", data, overwrite},
                   {"TOVALINK_HOME=" + site.home.Path(), "LC_ALL=C"}, out);
}

TEST(BadValues, TheStoreCommandsRefuseWhatTheServiceCannotUseUnlessForced) {
  Site site;
  site.SetScales({3});
  const std::string before = ReadFile(site.StorePath());
  std::string out;
  EXPECT_EQ(Reg(site, "IPAdress", "REG_SZ", "127.0.0", out), 1) << out;
  EXPECT_TRUE(Has(out, "IPAdress \"127.0.0\" is not three dotted numbers 0 to 255 and a dot"))
      << out;
  EXPECT_EQ(Reg(site, "IPAdress", "REG_SZ", "127.0.256.", out), 1) << out;
  EXPECT_EQ(Reg(site, "SocketPort", "REG_SZ", "3000", out), 1) << out;
  EXPECT_TRUE(Has(out, "SocketPort is read as REG_DWORD, not REG_SZ")) << out;
  EXPECT_EQ(Reg(site, "VerInterval", "REG_DWORD", "0", out), 1) << out;
  EXPECT_EQ(Reg(site, "ImportType", "REG_DWORD", "3", out), 1) << out;
  EXPECT_EQ(Reg(site, "TextToOEM", "REG_DWORD", "2", out), 1) << out;
  EXPECT_EQ(
      RunBinary({TovalinkBinary(), "scale", "add", "7", "--type", "Pole", "--barcode-type", "300"},
                {"TOVALINK_HOME=" + site.home.Path()}, out),
      1)
      << out;
  EXPECT_EQ(ReadFile(site.StorePath()), before) << "a refusal writes nothing";
  EXPECT_EQ(Reg(site, "ImportType", "REG_DWORD", "2", out), 0) << out;

  // Forced, the value is stored; check names it and says no "ok" about it,
  // and the service does not start on it.
  ASSERT_EQ(Reg(site, "IPAdress", "REG_SZ", "127.0.0", out, "/force"), 0) << out;
  EXPECT_EQ(RunBinary({TovalinkBinary(), "check"},
                      {"TOVALINK_HOME=" + site.home.Path(), "LC_ALL=C"}, out),
            1);
  EXPECT_TRUE(Has(out, "error: IPAdress \"127.0.0\"")) << out;
  // The metrics listener's own loopback address is no scale address.
  for (const std::string& line : Lines(out))
    EXPECT_FALSE(line.rfind("ok:", 0) == 0 && Has(line, "127.0.0") && !Has(line, "MetricsAddress"))
        << line;
  site.Start();
  ASSERT_TRUE(site.service->Wait(Scaled(20000))) << site.Output();
  EXPECT_NE(site.service->ExitCode(), 0);
  EXPECT_TRUE(Has(site.service->Output(), "IPAdress \"127.0.0\" is not three dotted numbers"))
      << site.Output();
}

TEST(BadValues, ACycleThatMeetsABadValueKeepsTheSettingsItHadAndSaysSoOnce) {
  Site site;
  site.AddScale(3);
  site.SetScales({3});
  site.Start();
  site.Drop("first.txt", GoodsFile(1));
  ASSERT_TRUE(site.WaitForLog(1)) << site.Output();
  site.SetString("SocketPort", "3000");  // behind the commands' back
  site.Drop("second.txt", GoodsFile(2));
  ASSERT_TRUE(site.WaitForLog(2)) << site.Output();
  site.Drop("third.txt", GoodsFile(3));
  ASSERT_TRUE(site.WaitForLog(3)) << site.Output();
  site.SetValue("SocketPort", kGoodsPortBase);
  site.Drop("fourth.txt", GoodsFile(4));
  ASSERT_TRUE(site.WaitForLog(4)) << site.Output();
  EXPECT_EQ(site.Stop(), 0);
  for (const LogLine& l : site.Log()) EXPECT_EQ(l.code, 0) << l.file;
  EXPECT_EQ(Count(site.output, "cycles go on with the values they had"), 1u) << site.output;
  EXPECT_TRUE(Has(site.output, "SocketPort")) << site.output;
  EXPECT_EQ(Count(site.output, "settings readable again"), 1u) << site.output;
  EXPECT_FALSE(Has(site.output, "export cycle not started")) << site.output;
}

}  // namespace
}  // namespace tv::test

namespace tv::test {
namespace {

const std::string kLayout =
    "<xml_archive>\r\n"
    " <keyboard name=\"template\"/>\r\n"
    " <keyboard name=\"Fruit\">\r\n"
    "  <key key_menu=\"true\" key_index=\"15\"><layer_text><text>Pear</text></layer_text>"
    "<layer_image file_name=\"pear.png\"/></key>\r\n"
    " </keyboard>\r\n"
    "</xml_archive>\r\n";

std::string BrokenLayout() {
  std::string broken = kLayout;
  broken.replace(broken.find("\"15\""), 4, "\"15a\"");
  return broken;
}

TEST(KeyboardMistakes, AnUnreadableLayoutIsRejectedWithTheReasonExplainGives) {
  Site site;
  for (int n : {1, 2}) site.AddScale(n);
  site.SetScales({1, 2}, {5, 5});
  const std::string copy = site.home / "keys.xml";
  WriteFile(copy, BrokenLayout());
  std::string explained;
  EXPECT_EQ(Explain(site, copy, explained), 2) << explained;
  const std::string reason = "line 4: key_index \"15a\" is not a whole number";
  ASSERT_TRUE(Has(explained, "refused: " + reason)) << explained;
  EXPECT_TRUE(Has(explained, "uploaded to SM700 scales 1, 2 in turn")) << explained;

  site.Start();
  site.Drop("keys.xml", BrokenLayout());
  ASSERT_TRUE(
      WaitUntil([&] { return site.Rejected() == std::vector<std::string>{"keys.xml"}; }, 20000))
      << site.Output();
  EXPECT_EQ(site.Stop(), 0);
  EXPECT_TRUE(Has(site.output, "keyboard file unreadable: " + reason)) << site.output;
  for (int n : {1, 2}) EXPECT_EQ(site.Scale(n).Sm700Hellos(), 0) << n;
  for (const LogLine& l : site.Log()) EXPECT_EQ(l.code, 17);
  EXPECT_TRUE(site.Unsent().empty());
}

TEST(KeyboardMistakes, ALayoutWhileNoSm700IsListedIsRejectedOnceAndExplainSaysSo) {
  Site site;
  site.AddScale(1);
  site.SetScales({1}, {1});  // a Bench scale only
  const std::string copy = site.home / "keys.xml";
  WriteFile(copy, kLayout);
  std::string explained;
  EXPECT_EQ(Explain(site, copy, explained), 2) << explained;
  EXPECT_TRUE(Has(explained, "received by no scale: the scale list has no SM700")) << explained;

  site.Start();
  site.Drop("keys.xml", kLayout);
  ASSERT_TRUE(
      WaitUntil([&] { return site.Rejected() == std::vector<std::string>{"keys.xml"}; }, 20000))
      << site.Output();
  site.Drop("prices.txt", GoodsFile());  // a later cycle, to show the layout is not met again
  ASSERT_TRUE(site.WaitForLog(1)) << site.Output();
  EXPECT_EQ(site.Stop(), 0);
  EXPECT_EQ(Count(site.output, "SM700 scales only, and the scale list has none"), 1u)
      << site.output;
  EXPECT_EQ(site.Scale(1).Sm700Hellos(), 0);
}

}  // namespace
}  // namespace tv::test
