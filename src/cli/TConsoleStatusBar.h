#pragma once
// The status line of the run, written out as lines: every text the window's status bar would show. The
// empty text that ends a run shows nothing in the window and writes nothing here.
#include "app/MemoryControls.h"
#include "cli/TConsole.h"

class TConsoleStatusBar : public TMemoryStatusBar {
public:
    explicit TConsoleStatusBar(TConsole& Console) : FConsole(Console) {}
    void SetSimpleText(const std::string& Value) override;

private:
    TConsole& FConsole;
};
