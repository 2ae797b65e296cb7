#pragma once
// What the window found at start-up, one "key: value" line each: the caption, the
// read-me's line count and first line, the engines in the list, the status text.
// The program prints it and ends PARLEN_EXIT_AFTER_SHOW milliseconds after start-up,
// which is how the install, package and X server checks see a program work.
#include <QString>

class TFormMain;

QString StartUpReport(const TFormMain& form);

// Pictures of both pages, "help-page.png" and "edit-page.png" in the folder given, for
// the read-me of the source tree. The page shown before is shown again.
void SaveScreenshots(TFormMain& form, const QString& folder);
