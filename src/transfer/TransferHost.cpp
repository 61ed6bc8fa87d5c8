#include "TransferHost.h"

#include "RecordAssembly.h"

TransferHost::TransferHost()
{
    recordBuffer[0] = 0;
    for (const char*& text : fieldTexts)
        text = EMPTY_TEXT;
}

bool TransferHost::AttemptConnection(const char* name)
{
    portName = name;
    RunConnectDialog();
    return connected != 0;
}

bool TransferHost::SendRecord()
{
    if (connected == 0) return false;
    const int32_t length = BuildRecordPayload(fieldTexts, recordBuffer, RECORD_BUFFER_SIZE);
    const int32_t percent = RecordPercentage(recordCounter, recordTotal);
    if (recordCounter < INT32_MAX) ++recordCounter;
    RunTransferDialog(percent, length, recordBuffer);
    return true;
}
