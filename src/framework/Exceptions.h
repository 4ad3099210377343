#pragma once
// The exception classes every layer raises. Each carries only its message text.
#include <exception>
#include <string>

class Exception : public std::exception {
public:
    explicit Exception(std::string AMessage) : Message(std::move(AMessage)) {}
    const char* what() const noexcept override { return Message.c_str(); }
    std::string Message;
};

// A text that is not an integer where one is required.
class EConversionError : public Exception {
public:
    using Exception::Exception;
};

// An index, size or value outside what its target can hold.
class ERangeError : public Exception {
public:
    using Exception::Exception;
};

class EStreamError : public Exception {
public:
    using Exception::Exception;
};

class EStreamReadError : public EStreamError {
public:
    using EStreamError::EStreamError;
};

class EStreamWriteError : public EStreamError {
public:
    using EStreamError::EStreamError;
};

class EFileOpenError : public EStreamError {
public:
    using EStreamError::EStreamError;
};

class EFileCreateError : public EStreamError {
public:
    using EStreamError::EStreamError;
};

class EListError : public Exception {
public:
    using Exception::Exception;
};

// The runtime's message texts, as Shift-JIS bytes.
namespace FrameworkTexts {
// "'%s' は整数ではありません" with %s replaced by the text.
std::string NotAnInteger(const std::string& Text);
// "ソートされる文字列リストに対しては許されない動作です"
extern const char* const SortedListError;
} // namespace FrameworkTexts
