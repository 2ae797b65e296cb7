#pragma once
// Why the last call on this thread failed, in words, as a service's error object
// carries it beside the bare result code: the failing object sets it before it
// returns the code, and the caller that reports the failure to the user takes it.
#include <string>

void SetErrorDescription(std::string text);
// The description set last on this thread (empty when none); taking it clears it.
std::string TakeErrorDescription();
