// The man page, the bash completion and the global usage cannot drift from
// the one table of stored values and the one command list: a value or a
// command added in one place only fails here.
#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <set>
#include <sstream>
#include <string>

#include "cli/commands.h"
#include "config/storedvalues.h"
#include "testutil.h"

namespace tv {
namespace {

std::string SourceFile(const std::string& relative) {
  return std::string(TOVALINK_SOURCE_ROOT) + "/" + relative;
}

// The text between two section headings of the man page.
std::string Section(const std::string& man, const std::string& from, const std::string& to) {
  const size_t a = man.find(".SH " + from);
  const size_t b = man.find(".SH " + to, a);
  EXPECT_NE(a, std::string::npos) << from;
  return a == std::string::npos ? "" : man.substr(a, b - a);
}

std::set<std::string> Words(const std::string& text) {
  std::istringstream in(text);
  std::set<std::string> out;
  for (std::string w; in >> w;) out.insert(w);
  return out;
}

// The words of a quoted shell assignment or compgen -W list after `marker`.
std::set<std::string> QuotedAfter(const std::string& text, const std::string& marker) {
  const size_t a = text.find(marker);
  if (a == std::string::npos) return {};
  const size_t from = a + marker.size();
  return Words(text.substr(from, text.find('"', from) - from));
}

std::vector<std::string> CommandWords() {
  std::vector<std::string> out;
  for (const cli::CommandInfo& c : cli::kCommands) {
    std::string names(c.names);
    for (size_t at = 0;;) {
      const size_t bar = names.find('|', at);
      out.push_back(names.substr(at, bar - at));
      if (bar == std::string::npos) break;
      at = bar + 1;
    }
  }
  return out;
}

std::string ProductValueTakesEffect(const config::StoredValue& v) {
  std::string words;
  if (v.reads & config::kAtCycle) words += "cycle";
  if (v.reads & config::kAtReload)
    words += words.empty() ? "reload" : ", reload";
  else if (v.reads & config::kAtStart)
    words += words.empty() ? "start" : ", start";
  if (v.reads & config::kAtBlock) words += words.empty() ? "block" : ", block";
  return words;
}

TEST(Docs, EveryCommandIsInTheCompletionAndTheSynopsis) {
  const std::string completion = test::ReadFile(SourceFile("packaging/tovalink.bash-completion"));
  const std::set<std::string> offered = QuotedAfter(completion, "compgen -W \"");
  const std::string synopsis = Section(test::ReadFile(SourceFile("packaging/tovalink.8.in")), "SYNOPSIS", "DESCRIPTION");
  for (const std::string& word : CommandWords()) {
    EXPECT_TRUE(offered.count(word)) << word << " is not completed";
    // troff writes a leading '-' as "\-".
    std::string troff = std::regex_replace(word, std::regex("-"), "\\-");
    EXPECT_NE(synopsis.find(troff), std::string::npos) << word << " is not in the man page's synopsis";
  }
  for (const std::string& word : offered) {
    if (word == "--help") continue;
    EXPECT_NE(std::find(CommandWords().begin(), CommandWords().end(), word), CommandWords().end())
        << word << " is completed but no command";
  }
}

TEST(Docs, EveryProductValueIsCompletedAndInTheManPageWithWhenItTakesEffect) {
  const std::string completion = test::ReadFile(SourceFile("packaging/tovalink.bash-completion"));
  const std::set<std::string> completed = QuotedAfter(completion, "local values=\"");
  const std::string settings = Section(test::ReadFile(SourceFile("packaging/tovalink.8.in")), "SETTINGS", "RESULT CODES");
  std::set<std::string> known;
  for (const config::StoredValue* v : config::kStoredValues) {
    if (v->key != kProductKey) continue;
    const std::string name(v->name);
    known.insert(name);
    EXPECT_TRUE(completed.count(name)) << name << " is not completed";
    const std::regex entry("\\.TP\\n\\.B " + name + "\\n(?:(?!\\.TP)[^\\n]*\\n)*?[^\\n]*takes effect: ([^.\\n]*)");
    std::smatch m;
    if (!std::regex_search(settings, m, entry)) {
      ADD_FAILURE() << name << " has no entry with \"takes effect\" in the man page";
      continue;
    }
    EXPECT_EQ(m[1].str(), ProductValueTakesEffect(*v)) << name;
  }
  for (const std::string& name : completed) EXPECT_TRUE(known.count(name)) << name << " is completed but not stored";
}

}  // namespace
}  // namespace tv
