#pragma once
// The operations the window's logic needs of its controls, and nothing more. The Qt window implements
// them with widgets; tests and the headless runner with the in-memory controls of MemoryControls.h.
#include <string>
#include <vector>

// A one-line text field.
class TEdit {
public:
    virtual ~TEdit() = default;
    virtual std::string Text() const = 0;
    virtual void SetText(const std::string& Value) = 0;
};

// A multi-line text box seen as a list of lines. The line count leaves out a last line that is empty:
// a text ending with a line break has no empty entry at its end, and an empty box has 0 lines.
class TMemo {
public:
    virtual ~TMemo() = default;
    virtual int LineCount() const = 0;
    virtual std::string Line(int Index) const = 0;
    virtual void SetLine(int Index, const std::string& Value) = 0;
    virtual void DeleteLine(int Index) = 0;
    virtual void AppendLine(const std::string& Value) = 0;
    virtual void Clear() = 0;

    // Every line at once, and all lines replaced at once, for lists of any length: a box that holds a
    // document does these in one step instead of one edit per line. The defaults go line by line.
    virtual std::vector<std::string> Lines() const;
    virtual void SetLines(std::vector<std::string> Lines);
};

// A status bar showing one simple text.
class TStatusBar {
public:
    virtual ~TStatusBar() = default;
    virtual std::string SimpleText() const = 0;
    virtual void SetSimpleText(const std::string& Value) = 0;
};
