// vCard files as record-file entries: python3-vobject parses the cards (run
// as tools/recfile/vcardentries.py, which hands over what they say),
// VcardMapping maps their properties to field codes, and here the texts are
// put into code page 936 and checked.
#pragma once

#include <string>
#include <utility>
#include <vector>

struct VcardEntry {
    std::string code;
    std::string label;     // code page 936
    std::string value;     // code page 936 (UTF-8 as MapVcardFiles gives it)
    std::string property;  // as the card names it, e.g. item1.TEL;TYPE=CELL (UTF-8)
    int line = 0;
};

struct VcardCard {
    std::string source;  // file name, or "(standard input)"
    int line = 0;        // of its BEGIN
    int number = 0;      // 1-based over all inputs
    std::string name;    // UTF-8, for messages; empty when the card has none
    std::vector<VcardEntry> entries;
};

struct VcardBook {
    std::vector<VcardCard> cards;
    // Properties without a field code, by name, and how often they came.
    std::vector<std::pair<std::string, int>> leftOut;
};

// Where a message about a card's property points: "FILE:LINE: card 3 (Li Si), TEL".
std::string CardPlace(const VcardCard& card, const VcardEntry& entry);

// Reads every input ("-" is standard input) and maps its cards, the values
// left in UTF-8. False, with the reasons on stderr, when an input cannot be
// read or is not a well-formed vCard.
bool MapVcardFiles(const std::vector<std::string>& inputs, bool replace, const std::string& charset, VcardBook& book);

// Reads every input ("-" is standard input). False, with the reasons on
// stderr, when an input cannot be read or is not a well-formed vCard, or when
// a text holds a character that code page 936 lacks, or bytes that do not
// decode, and `replace` does not ask for "?" instead. `charset` (empty: UTF-8)
// names the character set of values that declare none. Values longer than a
// field are reported on stderr and kept: the transfer cuts them at a whole
// character.
bool ReadVcardBook(const std::vector<std::string>& inputs, bool replace, const std::string& charset, VcardBook& book);
