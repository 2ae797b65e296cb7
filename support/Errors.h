#pragma once
// Error kinds. Every failure of the program is one of these, carrying the message
// that the error box shows.
#include <cstdint>
#include <exception>
#include <string>

class Exception : public std::exception {
  public:
    explicit Exception(std::string message) : message_(std::move(message)) {}
    const char* what() const noexcept override { return message_.c_str(); }
    const std::string& Message() const noexcept { return message_; }

  private:
    std::string message_;
};

#define PARLEN_ERROR_KIND(Name)     \
    class Name : public Exception { \
      public:                       \
        using Exception::Exception; \
    }

PARLEN_ERROR_KIND(EMSpeechException);
PARLEN_ERROR_KIND(EFOpenError);
PARLEN_ERROR_KIND(EFCreateError);
PARLEN_ERROR_KIND(EWriteError);
PARLEN_ERROR_KIND(EInvalidOperation);
PARLEN_ERROR_KIND(EOutOfResources);
PARLEN_ERROR_KIND(EStringListError);
PARLEN_ERROR_KIND(EConvertError);
// A document that cannot be imported: the message names the file and the reason.
PARLEN_ERROR_KIND(EDocumentError);
// An import stopped by its caller.
PARLEN_ERROR_KIND(EDocumentCancelled);

#undef PARLEN_ERROR_KIND

// An error kind that also carries the platform's failure code.
template <class Kind>
class WithErrorCode : public Kind {
  public:
    WithErrorCode(std::string message, int32_t errorCode)
        : Kind(std::move(message)), errorCode_(errorCode) {}
    int32_t ErrorCode() const noexcept { return errorCode_; }

  private:
    int32_t errorCode_;
};

// The speech component's failures that its callers treat apart from the rest.
// The WAV file cannot be created: the one refusal a conversion reports at its start.
class EMSpeechCreateFileError : public EMSpeechException {
  public:
    using EMSpeechException::EMSpeechException;
};

// A text ended before its end (a file that cannot be written, a sound server gone, no
// memory for synthesis), reported once the component is back at rest.
class EMSpeechTextFailed : public WithErrorCode<EMSpeechException> {
  public:
    using WithErrorCode::WithErrorCode;
};

// A platform call returned a failure code.
class EOleSysError : public WithErrorCode<Exception> {
  public:
    using WithErrorCode::WithErrorCode;
};

// Version block errors carry their numeric code; the message is derived from it.
class EVersionInfoError : public Exception {
  public:
    explicit EVersionInfoError(int code);
    int Code() const noexcept { return code_; }
    static std::string MessageFor(int code);

  private:
    int code_;
};

// Builds the text shown in the error box: "." is appended when the message is not
// empty and its last byte's code is above that of ".".
std::string ErrorBoxText(const std::string& message);
