#pragma once
// Form-data URL encoding: letters and digits stay, a space becomes "+", every other byte "%XX".
#include "framework/TComponent.h"

#include <exception>
#include <functional>
#include <string>

class TVexURL : public TComponent {
public:
    // Not the socket layer's event of the same name: this one reports what failed and why.
    using TOnErrorEvent =
        std::function<void(TComponent* Sender, const std::string& Operation, const std::string& ErrMsg)>;

    static constexpr const char* EncodeErrorText = "Error during encode";
    static constexpr const char* DecodeErrorText = "Error during decode";

    explicit TVexURL(TComponent* AOwner);

    // Both return Text unchanged when they fail; the failure goes to OnError and never further.
    std::string URLEncode(const std::string& Text);
    std::string URLDecode(const std::string& Text);

    std::string GetEncodeString() { return URLEncode(InputString); }
    std::string GetDecodeString() { return URLDecode(InputString); }

    std::string InputString;
    TOnErrorEvent OnError;

private:
    void ReportError(const char* Operation, const std::exception& Error);
};
