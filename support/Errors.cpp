#include "support/Errors.h"

std::string EVersionInfoError::MessageFor(int code) {
    switch (code) {
        case 73:
            return "Error opening file";
        case 100:
            return "File does not contain version info";
        case 101:
            return "Unable to read version info";
        case 134:
            return "The specified key cannnot be found in version info";
        default:
            return "Version info error " + std::to_string(code);
    }
}

EVersionInfoError::EVersionInfoError(int code) : Exception(MessageFor(code)), code_(code) {}

std::string ErrorBoxText(const std::string& message) {
    if (!message.empty() && static_cast<unsigned char>(message.back()) > '.') return message + ".";
    return message;
}
