// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The one error type of picture decoding: a code (the error class) and a text.
// Thrown by value, caught by callers, who go on without the picture.

#include <exception>
#include <string>

namespace lumivox {

// Common root of the picture layer's classes.
class PLObject {
public:
    virtual ~PLObject() = default;
};

// Error classes of picture decoding.
enum PLErrorCode : int {
    PL_ERRWRONG_SIGNATURE = 1, // not a bitmap; TIFF open/read failures
    PL_ERRFORMAT_UNKNOWN = 2, // illegal bits per pixel in a bitmap
    PL_ERRFORMAT_NOT_SUPPORTED = 6, // refused format, delta escape, depth mismatch, JPEG errors
    PL_ERRINTERNAL = 7, // TIFF scan line read failure
    PL_ERRUNKNOWN_FILE_TYPE = 8, // nothing identified the file
    PL_ERRNO_MEMORY = 10, // out of memory / size refused
    PL_ERREND_OF_FILE = 11, // read past the end of the file
    PL_ERRACCESS_DENIED = 12, // the file could not be opened ("Opening %s failed")
};

class PLTextException : public PLObject, public std::exception {
public:
    PLTextException(int code, std::string text) : code_(code), text_(std::move(text)) { }
    int GetCode() const { return code_; }
    const std::string& GetText() const { return text_; }
    const char* what() const noexcept override { return text_.c_str(); }

private:
    int code_;
    std::string text_;
};

} // namespace lumivox
