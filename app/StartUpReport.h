#pragma once
// What the window found at start-up, one "key: value" line each: the caption, the
// read-me's line count and first line, the engines in the list, the status text.
// The program prints it and ends right after start-up when PARLEN_EXIT_AFTER_SHOW=1,
// which is how the install and package checks see an installed program work.
#include <QString>

class TFormMain;

QString StartUpReport(const TFormMain& form);
