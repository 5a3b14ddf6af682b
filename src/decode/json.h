// Builds one flat-or-nested JSON object as a single line of text, members in
// the order they are added.
#pragma once

#include <cstdint>
#include <string>

namespace tv::decode {

class JsonObject {
 public:
  JsonObject& Int(const std::string& key, int64_t v);
  JsonObject& Bool(const std::string& key, bool v);
  JsonObject& Str(const std::string& key, const std::string& utf8);
  JsonObject& Null(const std::string& key);
  // `json` must already be valid JSON (an object, an array, a number).
  JsonObject& Raw(const std::string& key, const std::string& json);
  std::string Text() const { return "{" + body_ + "}"; }

 private:
  void Key(const std::string& key);
  std::string body_;
};

// `s` as a quoted JSON string; bytes below 0x20 are escaped.
std::string JsonQuote(const std::string& s);

}  // namespace tv::decode
