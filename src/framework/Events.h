#pragma once
// Event types shared by every layer. An unset event is an empty function; callers test it before each call.
#include <functional>
#include <string>

class TComponent;

using TNotifyEvent = std::function<void(TComponent* Sender)>;
// Asked by an operation that wants its caller to step in; setting Handled says it did.
using THandlerEvent = std::function<void(bool& Handled)>;
