#include "platform/festival/FestivalEntry.h"

const festival_bridge::Entry* parlen_festival_entry() {
    static const festival_bridge::Entry entry{&festival_bridge::Start, &festival_bridge::Select,
                                              &festival_bridge::Synthesise};
    return &entry;
}
