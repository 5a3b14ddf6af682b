#include "cli/checkcli.h"

#include "platform/registry.h"

namespace tv {

using platform::Registry;

void PrintCheckReport(const TCheckReport& report, std::FILE* out) {
  for (const TCheckFinding& f : report.findings) {
    const char* word = f.level == TCheckLevel::Error ? "error" : f.level == TCheckLevel::Warning ? "warning" : "ok";
    std::fprintf(out, "%s: %s\n", word, f.text.c_str());
  }
  std::fprintf(out, "%s: %d errors, %d warnings\n", report.storePath.c_str(), report.Count(TCheckLevel::Error),
               report.Count(TCheckLevel::Warning));
}

int RunCheckCommand(int argc, char** /*argv*/) {
  if (argc != 0) {
    std::fprintf(stderr, "usage: tovalink check\n");
    return 2;
  }
  const TCheckReport report = CheckStore(Registry::DefaultPath(), platform::Regional::FromProcessLocale());
  PrintCheckReport(report, stdout);
  return report.Passed() ? 0 : 1;
}

}  // namespace tv
