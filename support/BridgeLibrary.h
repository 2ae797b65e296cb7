#pragma once
// Bridge libraries of our own (Festival's, the PDF reader's) keep large or clashing
// libraries out of the programs until first needed. Each lies beside the program in the
// build tree and in the window program's folder when installed; parlen-say, installed in
// bin/, finds it there. The run path alone would not do: a program built with the address
// sanitizer maps libraries from the sanitizer's own code, without it.
#include <string>

// Maps the library file `name` (e.g. "libparlen_pdf.so") and returns its entry symbol,
// or nullptr with why set to the reason. Its symbols stay its own (RTLD_LOCAL); it stays
// mapped for the program's life.
void* MapBridgeLibrary(const std::string& name, const char* entrySymbol, std::string& why);
