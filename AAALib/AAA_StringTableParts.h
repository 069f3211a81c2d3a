#pragma once
// The string table is kept in parts, each a list of these; a part holds the
// texts of one front end's own screens.
namespace AAA {

struct StringEntry {
    int id;
    const char* english;
    const char* japanese;
    const char* chinese;
};

// The wizard's summaries of what a search found and what a save wrote; null
// for an id of no text there.
const StringEntry* FindWizardSummaryText(int id);

} // namespace AAA
