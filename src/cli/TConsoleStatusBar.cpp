#include "cli/TConsoleStatusBar.h"

void TConsoleStatusBar::SetSimpleText(const std::string& Value) {
    TMemoryStatusBar::SetSimpleText(Value);
    if (!Value.empty()) FConsole.Status(Value);
}
