#pragma once
// What the window-logic tests share: a scratch folder, in-memory controls that log what the run does,
// and a form whose visits, pauses and saves are scripted and recorded.
#include "app/MemoryControls.h"
#include "app/Unit1.h"
#include "framework/Random.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

// The generator's formula, written out independently of Rand(): the draws after a fresh start.
inline std::vector<int> ReferenceDraws(int Count) {
    uint32_t State = 1u * 22695477u + 1u; // the start-up draw is taken and discarded
    std::vector<int> Draws;
    for (int I = 0; I < Count; ++I) {
        State = State * 22695477u + 1u;
        Draws.push_back(static_cast<int>((State >> 16) & 0x7FFF));
    }
    return Draws;
}

// A fresh folder, removed with everything in it at the end of the test.
class TTempFolder {
public:
    TTempFolder() {
        std::string Pattern = (std::filesystem::temp_directory_path() / "vindral-app-XXXXXX").string();
        if (!::mkdtemp(Pattern.data())) throw std::runtime_error("mkdtemp failed");
        FPath = Pattern + "/";
    }
    ~TTempFolder() {
        std::error_code Ignored;
        std::filesystem::remove_all(FPath, Ignored);
    }
    TTempFolder(const TTempFolder&) = delete;
    TTempFolder& operator=(const TTempFolder&) = delete;

    // With its trailing "/".
    const std::string& Path() const { return FPath; }

private:
    std::string FPath;
};

inline std::string ReadFileBytes(const std::string& FileName) {
    std::ifstream In(FileName, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(In), std::istreambuf_iterator<char>());
}

inline void WriteFileBytes(const std::string& FileName, const std::string& Bytes) {
    std::ofstream Out(FileName, std::ios::binary | std::ios::trunc);
    Out << Bytes;
}

// A status bar that logs every text it is given.
class TLoggingStatusBar : public TMemoryStatusBar {
public:
    explicit TLoggingStatusBar(std::vector<std::string>& Log) : FLog(Log) {}
    void SetSimpleText(const std::string& Value) override {
        FLog.push_back("status " + Value);
        TMemoryStatusBar::SetSimpleText(Value);
    }

private:
    std::vector<std::string>& FLog;
};

// A form whose visits follow a script. Every visit, pause and save is logged in order, next to the
// status texts.
class TScriptedForm : public TForm1 {
public:
    using TVisitScript = std::function<int(TScriptedForm& Form, const std::string& Host, int32_t Port)>;

    TScriptedForm(const TForm1Controls& Controls, std::vector<std::string>& Log)
        : TForm1(nullptr, Controls), FLog(Log) {
        PauseHook = [this](int Milliseconds) { FLog.push_back("pause " + std::to_string(Milliseconds)); };
    }

    // Unset: the form's own visit runs.
    TVisitScript Visit;

    int VisitProxy(const std::string& Host, int32_t Port) override {
        FLog.push_back("visit " + Host + ":" + std::to_string(Port));
        return Visit ? Visit(*this, Host, Port) : TForm1::VisitProxy(Host, Port);
    }
    int SaveSettings() override {
        FLog.push_back("save");
        return TForm1::SaveSettings();
    }

private:
    std::vector<std::string>& FLog;
};

// Controls with the window's initial values, a scripted form over them in a scratch folder, and the
// generator at its start-up state.
class FormFixture : public ::testing::Test {
protected:
    FormFixture() : StatusBar1(Log), Form(Controls(), Log) {
        ResetRandomGenerator();
        Form.SetSettingsFolder(Folder.Path());
        // Every finished proxy saved at once, so the log shows each save in its place; the throttle that
        // gathers them has tests of its own.
        Form.SaveInterval = std::chrono::milliseconds(0);
    }

    TForm1Controls Controls() { return {&Memo1, &Memo2, &Edit1, &Edit2, &StatusBar1}; }
    std::string SettingsPath() const { return Folder.Path() + "qelto.ini"; }
    int Count(const std::string& Entry) const {
        return static_cast<int>(std::count(Log.begin(), Log.end(), Entry));
    }
    int CountStarting(const std::string& Prefix) const {
        return static_cast<int>(std::count_if(Log.begin(), Log.end(),
                                              [&](const std::string& E) { return E.rfind(Prefix, 0) == 0; }));
    }

    TTempFolder Folder;
    std::vector<std::string> Log;
    TMemoryMemo Memo1;
    TMemoryMemo Memo2;
    TMemoryEdit Edit1{"Edit1"};
    TMemoryEdit Edit2{"100"};
    TLoggingStatusBar StatusBar1;
    TScriptedForm Form;
};
