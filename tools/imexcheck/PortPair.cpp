#include "PortPair.h"

#include "SerialLine.h"

std::string PortPairProblem()
{
    SerialLine com1;
    SerialLine com2;
    std::string error;
    if (!com1.OpenDevice("COM1", error) || !com2.OpenDevice("COM2", error))
        return error +
               ". Both ports must exist and be free: install a null-modem pair (com0com, or two adapters "
               "and a null-modem cable) as COM1 and COM2, and close every program that uses them";
    return std::string();
}

bool LeaveSoftwareFlowControlOn(const std::string& port, std::string& error)
{
    SerialLine line;
    return line.OpenDevice(port, error) && line.SetSoftwareFlowControl(error);
}

const char NOT_JOINED[] =
    "COM1 and COM2 are not joined: the DLL found no device through COM1 while pdasim served COM2. Join them "
    "with a null-modem (a com0com pair, or a null-modem cable between two adapters)";
