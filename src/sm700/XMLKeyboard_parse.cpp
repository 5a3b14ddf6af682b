#include "sm700/XMLKeyboard_parse.h"

#include <algorithm>
#include <cstring>
#include <pugixml.hpp>

#include "platform/status.h"
#include "text/utils.h"

namespace tv {
namespace {

constexpr int64_t kLargestBcd8 = 99999999;
// The image path record must fit the frame buffer: 2 frame bytes, 7 record
// bytes, the directory and the name.
constexpr size_t kLongestFileName = kFrameBufferSize - 2 - 7 - (sizeof kImageDirectory - 1);

// Every text and CDATA below `node`, in document order.  Iterative, so a
// deeply nested document cannot exhaust the stack.
std::string TextContent(pugi::xml_node node) {
  std::string text;
  pugi::xml_node cur = node.first_child();
  while (cur) {
    if (cur.type() == pugi::node_pcdata || cur.type() == pugi::node_cdata) text += cur.value();
    if (cur.first_child()) {
      cur = cur.first_child();
      continue;
    }
    while (cur && cur != node && !cur.next_sibling()) cur = cur.parent();
    if (!cur || cur == node) break;
    cur = cur.next_sibling();
  }
  return text;
}

bool InBcd8(int64_t value) { return value >= 0 && value <= kLargestBcd8; }

// What the key records of this key will carry must fit their BCD fields.
bool Encodable(const TKeyInfo& key) {
  int64_t recordNumber = (int64_t{key.KeyboardNo} - 1) * 1000 + key.KeyNo;
  return key.KeyboardNo >= 1 && InBcd8(recordNumber) && InBcd8(key.KeyIndex) &&
         InBcd8(10000 + int64_t{key.KeyboardNo}) && key.FileName.size() <= kLongestFileName;
}

std::string KeyText(pugi::xml_node key) {
  std::string text;
  for (pugi::xml_node layer : key.children("layer_text")) {
    pugi::xml_node line = layer.child("text");
    if (line) text += " " + TextContent(line);
  }
  return text.empty() ? " " : text;
}

// Name shown for a new keyboard: the first line of its first key, else
// the element's name.
std::string KeyboardName(pugi::xml_node element) {
  pugi::xml_node line = element.child("key").child("layer_text").child("text");
  return line ? TextContent(line) : element.attribute("name").value();
}

class Walk {
 public:
  Walk(const std::string& bytes, std::vector<TKeyboardElement>& out,
       std::vector<std::string>& passedOver)
      : bytes_(bytes), out_(out), passedOver_(passedOver) {}

  platform::Status Element(pugi::xml_node element) {
    pugi::xml_attribute name = element.attribute("name");
    if (!name) return PassOver(element, "keyboard element without a name, with all its keys");
    TKeyboardElement step;
    std::string thisName = name.value();
    if (!thisName.empty() && (lastName_.empty() || thisName.find(lastName_) == std::string::npos)) {
      lastName_ = thisName;
      ++keyboardNo_;
      keyNo_ = 1;
      step.keyboard.Name = KeyboardName(element);
      step.keyboard.Number = keyboardNo_;
      step.sendKeyboard = true;
    }
    for (pugi::xml_node key : element.children("key")) {
      platform::Status status = Key(key, step.keys);
      if (!status.ok()) return status;
    }
    step.sendKeyboard = step.sendKeyboard && keyNo_ > 1;
    out_.push_back(std::move(step));
    return platform::Status::OK();
  }

 private:
  platform::Status Key(pugi::xml_node key, std::vector<TKeyInfo>& keys) {
    if (std::strcmp(key.attribute("key_menu").value(), "true") != 0)
      return PassOver(key, "key whose key_menu is not \"true\"");
    pugi::xml_attribute index = key.attribute("key_index");
    if (!index) return PassOver(key, "key without key_index");
    TKeyInfo info;
    // The index is converted before the image is looked for, so a bad one
    // spoils the file even on a key that has no image.
    if (!text::StrToInt(index.value(), info.KeyIndex))
      return Fail(key, std::string("key_index \"") + index.value() + "\" is not a whole number");
    pugi::xml_attribute file = key.child("layer_image").attribute("file_name");
    if (!file) return PassOver(key, "key without a layer_image file_name");
    info.Text = KeyText(key);
    info.KeyboardNo = keyboardNo_;
    info.KeyNo = keyNo_;
    info.FileName = file.value();
    if (!Encodable(info))
      return Fail(key, "key_index " + std::to_string(info.KeyIndex) +
                           " or its keyboard's numbers do not fit the records' 8 digits, or "
                           "file_name is too long");
    keys.push_back(std::move(info));
    ++keyNo_;
    return platform::Status::OK();
  }

  // "line 5: " for the line of the document the element starts on.
  std::string Where(pugi::xml_node node) const {
    const ptrdiff_t offset = node.offset_debug();
    if (offset < 0) return "";
    const size_t end = std::min(bytes_.size(), static_cast<size_t>(offset));
    return "line " + std::to_string(1 + std::count(bytes_.begin(), bytes_.begin() + end, '\n')) + ": ";
  }

  platform::Status PassOver(pugi::xml_node node, const std::string& what) {
    passedOver_.push_back(Where(node) + what);
    return platform::Status::OK();
  }

  platform::Status Fail(pugi::xml_node key, const std::string& why) const {
    return platform::Refusal(Where(key) + why);
  }

  const std::string& bytes_;
  std::vector<TKeyboardElement>& out_;
  std::vector<std::string>& passedOver_;
  std::string lastName_;
  int32_t keyboardNo_ = 0;
  int32_t keyNo_ = 1;
};

}  // namespace

bool TKeyboardDocument::Parse(const std::string& bytes) {
  elements_.clear();
  error_.clear();
  passedOver_.clear();
  pugi::xml_document doc;
  // Declared as UTF-8 to pugixml so that no byte is transcoded: it does not
  // validate UTF-8, and the Windows-1251 bytes come through as they are.
  const pugi::xml_parse_result parsed =
      doc.load_buffer(bytes.data(), bytes.size(), pugi::parse_default, pugi::encoding_utf8);
  if (!parsed) {
    const size_t end = std::min(bytes.size(), static_cast<size_t>(std::max<ptrdiff_t>(0, parsed.offset)));
    error_ = "line " + std::to_string(1 + std::count(bytes.begin(), bytes.begin() + end, '\n')) +
             ": not well-formed XML: " + parsed.description();
    return false;
  }
  if (!doc.child("xml_archive")) {
    error_ = "no root element xml_archive";
    return false;
  }
  pugi::xml_node first = doc.child("xml_archive").child("keyboard");
  if (!first) {
    error_ = "xml_archive holds no keyboard element";
    return false;
  }
  Walk walk(bytes, elements_, passedOver_);
  for (pugi::xml_node e = first.next_sibling("keyboard"); e; e = e.next_sibling("keyboard")) {
    const platform::Status status = walk.Element(e);
    if (!status.ok()) {
      error_ = status.ToString();
      elements_.clear();
      return false;
    }
  }
  return true;
}

}  // namespace tv
