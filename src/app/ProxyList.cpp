#include "app/ProxyList.h"

#include "framework/Random.h"
#include "framework/TextHelpers.h"

namespace {

void ExchangeLines(TMemo& Memo, int A, int B) {
    if (A == B) return;
    std::string Upper = Memo.Line(A);
    Memo.SetLine(A, Memo.Line(B));
    Memo.SetLine(B, Upper);
}

} // namespace

bool HasSucceededBefore(const std::string& Line) {
    return Line.find(SuccessChar) != std::string::npos;
}

std::string ProxyKey(const std::string& Line) {
    return Line.substr(0, Line.find('('));
}

void CheckMax(TEdit& Edit) {
    // The text itself stays as typed, blanks included, when it passes.
    if (StrToIntDef(Trim(Edit.Text()), -1) < 0) Edit.SetText("20");
}

void ShuffleLines(TMemo& Memo) {
    for (int K = 0; K < 3 * Memo.LineCount(); ++K) {
        // Two statements, so that a is always drawn before b.
        int A = Rand() % Memo.LineCount();
        int B = Rand() % Memo.LineCount();
        ExchangeLines(Memo, A, B);
    }
}

void PromoteSuccesses(TMemo& Memo) {
    for (int I = 0; I < Memo.LineCount(); ++I) {
        if (HasSucceededBefore(Memo.Line(I))) continue;
        int J = I + 1;
        while (J < Memo.LineCount() && !HasSucceededBefore(Memo.Line(J))) ++J;
        // Nothing marked below this line: every marked line is already above it.
        if (J >= Memo.LineCount()) return;
        ExchangeLines(Memo, I, J);
    }
}

void RemoveRepeatedProxies(TMemo& Memo) {
    for (int I = 0; I < Memo.LineCount(); ++I) {
        const std::string Key = ProxyKey(Memo.Line(I));
        for (int J = I + 1; J < Memo.LineCount();) {
            if (ProxyKey(Memo.Line(J)) == Key)
                Memo.DeleteLine(J); // the next line moves up into J and is tested in turn
            else
                ++J;
        }
    }
}
