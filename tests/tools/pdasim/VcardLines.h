// Reading a vCard back in the tests: its physical and content lines, one
// property's value, and a record's fields from the few that are set.
#pragma once

#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "VcardExport.h"

RecordTexts Fields(std::initializer_list<std::pair<size_t, std::string>> set);

// Physical lines of a card, each without its CR LF.
std::vector<std::string> PhysicalLines(const std::string& card);

// Content lines: continuations (CR LF and one space) joined again.
std::vector<std::string> ContentLines(const std::string& card);

// The value after "NAME:" (name with its parameters); "<none>" when the card has no such line.
std::string Value(const std::string& card, const std::string& name);
