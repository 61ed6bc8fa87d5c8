// The module-wide objects of imex.dll, built when the DLL is loaded and
// destroyed, in reverse order, when it is unloaded.
#pragma once

#include "HostDialog.h"
#include "RecordFile.h"
#include "TransferApp.h"
#include "TransferInstances.h"

extern TransferApp transferApp;
extern RecordFile recordFile;
extern HostDialog hostDialog;
