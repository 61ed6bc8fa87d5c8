#include "ModuleObjects.h"

// One translation unit, so that the order of definition is the order of
// construction: the application first, then the record file reader, then
// the host with its link.
TransferApp transferApp;
RecordFile recordFile;
HostDialog hostDialog;

TransferHost& ModuleTransferHost()
{
    return hostDialog;
}
RecordFile& ModuleRecordFile()
{
    return recordFile;
}
