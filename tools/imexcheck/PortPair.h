// COM1 and COM2 as the check needs them: both there and joined by a
// null-modem, so that what one sends the other receives.
#pragma once

#include <string>

// Empty when COM1 and COM2 both open; else what is wrong and what to do.
// Whether they are joined shows in the first scenario: the DLL finds no
// device through COM1 although pdasim serves COM2 (NOT_JOINED).
std::string PortPairProblem();
// Leaves XON/XOFF on in COM1's settings, as a driver or an earlier program
// may; the DLL must turn it off. False with a message when it cannot.
bool LeaveSoftwareFlowControlOn(const std::string& port, std::string& error);

extern const char NOT_JOINED[];
