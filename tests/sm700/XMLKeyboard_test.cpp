#include "sm700/XMLKeyboard.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/env.h"
#include "platform/fs.h"
#include "scalesim/sim_scale.h"
#include "testutil.h"

namespace tv {
namespace {

using Frame = std::vector<uint8_t>;

const std::string kFrukty = "\xD4\xF0\xF3\xEA\xF2\xFB";  // Фрукты
const std::string kOvoshchi = "\xCE\xE2\xEE\xF9\xE8";    // Овощи
const std::string kMoloko = "\xCC\xEE\xEB\xEE\xEA\xEE";  // Молоко

std::string Doc(const std::string& keyboards) {
  return "<?xml version=\"1.0\" encoding=\"windows-1251\"?>\n<xml_archive>\n<keyboard name=\"layout\"/>\n" +
         keyboards + "</xml_archive>\n";
}

std::string Keyboard(const std::string& name, const std::string& keys) {
  return "<keyboard name=\"" + name + "\">" + keys + "</keyboard>\n";
}

std::string Key(int index, const std::string& text = "") {
  std::string layers = text.empty() ? "" : "<layer_text><text>" + text + "</text></layer_text>";
  return "<key key_menu=\"true\" key_index=\"" + std::to_string(index) + "\">" + layers +
         "<layer_image file_name=\"k" + std::to_string(index) + ".png\"/></key>";
}

// In a directory of this process's own, so runs by different users or at
// the same time never meet each other's files.
std::string TempFile(const std::string& content) {
  static const test::TempDir dir;
  std::string path =
      dir.File(std::string("sm700_") + testing::UnitTest::GetInstance()->current_test_info()->name() + ".xml");
  EXPECT_TRUE(platform::Env::Default()->WriteFile(path, content).ok());
  return path;
}

uint8_t Command(const Frame& f) { return f.size() > 1 ? f[1] : 0; }
Frame RecordNumber(const Frame& f) { return f.size() >= 6 ? Frame(f.begin() + 2, f.begin() + 6) : Frame(); }

constexpr uint8_t kScale = 7;
const std::string kAddress = "127.0.0.7";

// One upload of `xml` to scale 7; returns the result code.
int Upload(const std::string& xml) {
  TSender sender(kScale, kAddress);
  TXmlKeyboardFile upload(sender, TempFile(xml));
  upload.Start();
  int result = upload.WaitFor();
  EXPECT_EQ(result, upload.ResultCode());
  return result;
}

struct KeyboardUpload : testing::Test {
  void Start(sim::Behaviour b = {}) {
    scale = std::make_unique<sim::SimScale>(kAddress, 0, kSm700BasePort + kScale, b);
    ASSERT_TRUE(scale->Start());
  }
  std::unique_ptr<sim::SimScale> scale;
};

TEST_F(KeyboardUpload, SingleKeyboardElementSendsNothing) {
  Start();
  EXPECT_EQ(Upload(Doc("")), kKbResultOk);
  EXPECT_EQ(scale->Sm700Hellos(), 1);
  EXPECT_TRUE(scale->Sm700Frames().empty());
}

TEST_F(KeyboardUpload, KeyboardRecordFollowsItsKeys) {
  Start();
  SetImageNumber(500);  // every upload starts its images at 101
  std::string xml = Doc(Keyboard(kFrukty, Key(1, kMoloko) + Key(2)) + Keyboard(kFrukty + " 2", Key(3)) +
                        Keyboard(kOvoshchi, Key(4)));
  ASSERT_EQ(Upload(xml), kKbResultOk);
  auto f = scale->Sm700Frames();
  ASSERT_EQ(f.size(), 14u);
  const std::vector<uint8_t> commands = {0x41, 0x37, 0xA5, 0x41, 0x37, 0xA5, 0x41,
                                         0x41, 0x37, 0xA5, 0x41, 0x37, 0xA5, 0x41};
  for (size_t i = 0; i < f.size(); ++i) EXPECT_EQ(Command(f[i]), commands[i]) << i;
  EXPECT_EQ(RecordNumber(f[0]), (Frame{0x00, 0x00, 0x00, 0x01}));   // keyboard 1, key 1
  EXPECT_EQ(RecordNumber(f[1]), (Frame{0x00, 0x00, 0x01, 0x01}));   // image 101
  EXPECT_EQ(RecordNumber(f[3]), (Frame{0x00, 0x00, 0x00, 0x02}));
  EXPECT_EQ(RecordNumber(f[6]), (Frame{0x00, 0x01, 0x00, 0x01}));   // keyboard record 10001
  EXPECT_EQ(Frame(f[6].begin() + 14, f[6].begin() + 20), (Frame{0xBC, 0xDE, 0xDB, 0xDE, 0xDA, 0xDE}));
  EXPECT_EQ(RecordNumber(f[7]), (Frame{0x00, 0x00, 0x00, 0x03}));   // continued keyboard, key 3
  EXPECT_EQ(RecordNumber(f[10]), (Frame{0x00, 0x00, 0x10, 0x01}));  // keyboard 2, key 1
  EXPECT_EQ(RecordNumber(f[12]), (Frame{0x00, 0x00, 0x00, 0x04}));  // image record carries key index 4
  EXPECT_EQ(RecordNumber(f[13]), (Frame{0x00, 0x01, 0x00, 0x02}));
}

TEST_F(KeyboardUpload, RefusedSecondImageGives16AndNoKeyboardRecord) {
  sim::Behaviour b;
  b.sm700RefuseRecordNo = 5;
  Start(b);
  EXPECT_EQ(Upload(Doc(Keyboard(kFrukty, Key(1) + Key(2) + Key(3)))), kKbKeyRefused);
  auto f = scale->Sm700Frames();
  ASSERT_EQ(f.size(), 10u);
  for (size_t i = 5; i < f.size(); ++i) EXPECT_EQ(Command(f[i]), 0xA5);
}

TEST_F(KeyboardUpload, RefusedKeyboardRecordGives14AndStops) {
  sim::Behaviour b;
  b.sm700RefuseRecordNo = 3;
  Start(b);
  EXPECT_EQ(Upload(Doc(Keyboard(kFrukty, Key(1)) + Keyboard(kOvoshchi, Key(2)))), kKbKeyboardRefused);
  EXPECT_EQ(scale->Sm700Frames().size(), 3u + 5u);
}

TEST_F(KeyboardUpload, RefusedOpeningGives13) {
  sim::Behaviour b;
  b.helloAnswer = 0x15;
  Start(b);
  EXPECT_EQ(Upload(Doc(Keyboard(kFrukty, Key(1)))), kKbNoHello);
  EXPECT_TRUE(scale->Sm700Frames().empty());
}

TEST_F(KeyboardUpload, NoScaleGives15) {
  sim::SimScale other("127.0.0.8", 0, kSm700BasePort + 8);  // a different scale is up
  ASSERT_TRUE(other.Start());
  EXPECT_EQ(Upload(Doc(Keyboard(kFrukty, Key(1)))), kKbNoConnection);
  EXPECT_EQ(other.Sm700Connections(), 0);
}

TEST_F(KeyboardUpload, UnreadableFileGives17WithoutContactingTheScale) {
  Start();
  const std::string cases[] = {
      "<xml_archive><keyboard/>",
      "<archive><keyboard/></archive>",
      "<xml_archive/>",
      Doc(Keyboard(kFrukty, Key(1) + "<key key_menu=\"true\" key_index=\"7a\"><layer_image file_name=\"x\"/></key>")),
  };
  for (const std::string& xml : cases) EXPECT_EQ(Upload(xml), kKbFileUnreadable) << xml;
  EXPECT_EQ(scale->Sm700Connections(), 0);
}

TEST_F(KeyboardUpload, MissingFileGives17) {
  Start();
  TSender sender(kScale, kAddress);
  TXmlKeyboardFile upload(sender, testing::TempDir() + "sm700_no_such_file.xml");
  upload.Start();
  EXPECT_EQ(upload.WaitFor(), kKbFileUnreadable);
  EXPECT_EQ(scale->Sm700Connections(), 0);
}

}  // namespace
}  // namespace tv
