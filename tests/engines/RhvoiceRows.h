#pragma once
// RHVoice's rows of the voice tables. RHVoice is optional (Debian's non-free section): its
// rows join a table where its slt voice is installed; where it is not, they are left out,
// and a build that requires every test tool (CI's) fails instead.
#include <gtest/gtest.h>

#include <vector>

#include "platform/voices/VoiceCatalogue.h"

inline constexpr const char* kRhvoiceSlt = "slt (US English female) - RHVoice";

inline bool RhvoiceInstalled() {
    for (const VoiceMode& m : AllVoiceModes())
        if (m.info.szModeName == std::string_view(kRhvoiceSlt)) return true;
#ifdef PARLEN_TESTS_REQUIRE_RHVOICE
    ADD_FAILURE() << "RHVoice's slt voice is not installed (librhvoice-dev, rhvoice-english)";
#endif
    return false;
}

// modes, with RHVoice's slt after them where it is installed.
inline std::vector<const char*> WithRhvoice(std::vector<const char*> modes) {
    if (RhvoiceInstalled()) modes.push_back(kRhvoiceSlt);
    return modes;
}
