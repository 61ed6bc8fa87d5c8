#include "ArgumentText.h"

std::string ArgumentToUtf8(const std::string& argument)
{
    return argument;
}
