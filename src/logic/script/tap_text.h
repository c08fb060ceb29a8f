#pragma once
// A script's checks as a test harness reads them: one "ok N - text" or "not ok N - text" line
// per check and the plan "1..N" once the script has ended.
#include <string>
#include <string_view>

namespace varnok::script {

// The line for check `number`, ending in "\n". The text is one line: line breaks become
// spaces, and '#' is escaped so a check's text never reads as a directive.
std::string tapLine(bool passed, int number, std::string_view text);

// The plan after the last check: "1..count\n" ("1..0\n" for a script without checks).
std::string tapPlan(int count);

} // namespace varnok::script
