#pragma once
// The report message between the download and the update dialog:
//   (bytes so far, file size)  progress of a file in flight (any of them)
//   (size, size)               the next file of the list is complete (always in
//                              list order, whichever finished first)
//   (0, -1)                    a fetch failed; the download has ended
//   (files, -2)                a run's fetch has staged this many files (by any way)
//   (0, -3)                    a run's fetch has staged every file; the download has ended
#include <windows.h>

constexpr UINT WM_UPDATE_NOTIFY = WM_USER + 0x25A;
static_assert(WM_UPDATE_NOTIFY == 0x65A, "peers rely on the message number");

// lParam of the failure report.
constexpr LPARAM UPDATE_NOTIFY_FAILED = -1;
constexpr LPARAM UPDATE_NOTIFY_STAGED = -2;
constexpr LPARAM UPDATE_NOTIFY_DONE = -3;
