// What a card's properties become in the record file: the one mapping of
// vCard properties onto field codes, written with the record's field table
// (RecordFields.h). The vCard reader (vcardentries.py) hands the properties
// over as the card says them; nothing of the record file is known there.
#pragma once

#include <string>
#include <vector>

// One property of a card, as the reader hands it over (texts UTF-8).
struct VcardProperty {
    int line = 0;
    std::string group;                // item1 of item1.TEL; empty without a group
    std::string name;                 // upper case: TEL
    std::vector<std::string> types;   // TYPE values, upper case
    std::string written;              // the property as its line names it: item1.TEL;TYPE=CELL
    bool read = false;                // false: the value was not read (no field takes it)
    std::vector<std::string> values;  // the text; one per component for N, ADR and ORG
};

// One value with its field code and label, in card order.
struct MappedEntry {
    const char* code;
    const char* label;  // code page 936
    int line;
    std::string property;  // as written
    std::string value;     // UTF-8, trimmed, line breaks CR LF
};

// The properties whose values the mapping reads: strictly, and leniently
// (a label only chooses a number's kind; it need not read perfectly).
extern const char MAPPED_PROPERTIES[];
extern const char LENIENTLY_READ_PROPERTIES[];

// The entries of one card, in card order, and the names of the properties
// that have no field code (appended to `leftOut`, one per property).
std::vector<MappedEntry> MapCard(const std::vector<VcardProperty>& card, std::vector<std::string>& leftOut);

// The card's name for messages: its FN, else its N joined as the name field
// takes it; empty when neither reads.
std::string CardName(const std::vector<VcardProperty>& card);
