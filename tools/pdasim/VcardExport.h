// The device's store as a vCard 3.0 file in UTF-8, so an address book can
// show what the device took: one card per stored record, in the order
// stored. The file is rewritten whole after each record, through a
// temporary file renamed over it, so a reader never finds half a store.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "RecordFields.h"

using RecordTexts = std::array<std::string, RECORD_FIELD_COUNT>;

// One record's eleven field texts (UTF-8) as a card, BEGIN:VCARD to
// END:VCARD: every line ends in CR LF and is folded at 75 octets.
std::string RecordVcard(const RecordTexts& utf8Fields);

class VcardExport {
public:
    using Report = std::function<void(const std::string&)>;

    // `report` hears of the first failure to write `path`, once.
    VcardExport(std::string path, Report report);

    // Writes the cards so far (none at first, so an empty store shows too).
    bool Write();
    // Takes a stored record's data (fields in CP936) and rewrites the file.
    bool AddRecord(const uint8_t* data, size_t length);
    bool AddFields(const RecordTexts& utf8Fields);

    size_t cardCount() const { return cardCount_; }

private:
    std::string path_;
    Report report_;
    std::string cards_;
    size_t cardCount_ = 0;
    bool reported_ = false;
};
