// The single instances a transfer runs on: one host and one record file
// reader for the whole module. The module that exports ImEx owns and
// defines them; the entry knows them only as a host and a reader.
#pragma once

class RecordFile;
class TransferHost;

TransferHost& ModuleTransferHost();
RecordFile& ModuleRecordFile();
