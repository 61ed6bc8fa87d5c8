/*
 * imex.h - the public interface of imex.dll.
 *
 * imex.dll transfers a file of contact records to a handheld device on a
 * serial port (COM1, then COM2; 57600 baud, 8N1). It exports one function,
 * ImEx, by name and at ordinal 1. Usable from C and C++ with any Win32
 * compiler. The 32-bit DLL takes seven 32-bit arguments with the __stdcall
 * (WINAPI) convention and removes their 28 bytes itself. The 64-bit DLL has
 * the same export; there the path and the callback are 64-bit pointers and
 * x64's one calling convention applies (__stdcall means nothing there).
 */
#ifndef IMEX_H
#define IMEX_H

/* IMEX_VERSION_MAJOR, _MINOR, _PATCH and _STRING: the version of imex.dll
 * that this header describes; IMEX_OLDEST_WINDOWS: the oldest Windows it
 * runs on. */
#include "imex_version.h"

#ifdef __cplusplus
extern "C" {
#endif

#if defined(_WIN32) && !defined(IMEX_CALL)
#define IMEX_CALL __stdcall
#elif !defined(IMEX_CALL)
#define IMEX_CALL
#endif

/* Progress callback: called once per block of the file, after the block's
 * header has been read and before its record is sent, with the 1-based
 * number of that block and the number of blocks the file announces. */
typedef void(IMEX_CALL* IMEX_PROGRESS)(int block, int blockCount);

/* Result codes of ImEx. */
#define IMEX_RESULT_OK 0            /* all records handled, or a mode other than 1 */
#define IMEX_RESULT_BUSY 1          /* ImEx is already running in this process */
#define IMEX_RESULT_CANNOT_OPEN 2   /* the record file cannot be opened (or the path is null) */
#define IMEX_RESULT_BAD_FILE 3      /* the file has no valid trailer or is structurally broken */
#define IMEX_RESULT_NO_MEMORY 4     /* the record table cannot be allocated */
#define IMEX_RESULT_NOT_CONNECTED 6 /* a record was refused because no device is connected */
#define IMEX_RESULT_NO_DEVICE 7     /* no device answered on COM1 nor on COM2 */

/* The only mode served; every other mode returns IMEX_RESULT_OK at once. */
#define IMEX_MODE_TRANSFER 1

/*
 * Transfers the record file at `path` (a NUL-terminated path in the system
 * code page). Arguments 1, 2, 3 and 5 are not used; pass 0. `progress` may
 * be null. Runs on the caller's thread and shows two small modal dialogs
 * while it works; returns one of the IMEX_RESULT_ codes.
 */
int IMEX_CALL ImEx(int unused1, int unused2, int unused3, const char* path, int unused5, int mode,
                   IMEX_PROGRESS progress);

/* Pointer type for GetProcAddress(module, "ImEx"). */
typedef int(IMEX_CALL* IMEX_FUNCTION)(int, int, int, const char*, int, int, IMEX_PROGRESS);

#ifdef __cplusplus
}
#endif

#endif /* IMEX_H */
