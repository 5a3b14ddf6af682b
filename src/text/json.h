// The one JSON writer of the program: builds one flat-or-nested JSON object
// as a single line of text, members in the order they are added, and quotes
// strings for any other JSON text a caller puts together.
#pragma once

#include <cstdint>
#include <string>

namespace tv::text {

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

// `s` as a quoted JSON string: quote and backslash escaped, bytes below
// 0x20 as \u00XX, every other byte (UTF-8 included) as it is.
std::string JsonQuote(const std::string& s);

}  // namespace tv::text
