#pragma once
// Driving another process's dialogs from a test: start the program, find its
// window by text, read and click its controls, move the real mouse, wait for
// the program to end.
#include <windows.h>

#include <functional>
#include <string>

#include "platform/base/Win32Handles.h"

// A program started by a test; killed when the object goes away while it still runs.
class UiProcess {
public:
    UiProcess() = default;
    ~UiProcess();
    UiProcess(const UiProcess&) = delete;
    UiProcess& operator=(const UiProcess&) = delete;

    // strCommandLine: quoted program path and arguments.
    bool Start(const std::string& strCommandLine);
    // Waits up to dwTimeoutMs for the end; true with its exit code when it ended.
    bool Wait(DWORD dwTimeoutMs, DWORD* pdwExitCode);
    void Kill();
    DWORD Id() const { return m_dwProcessId; }

private:
    UniqueHandle m_process;
    DWORD m_dwProcessId = 0;
};

// Under Wine, the first drawing or window of a process loads the display
// driver that the desktop process (started on demand) announces; a process
// that gets there before the desktop is ready stays without a display. The
// UI tests wait for it before anything else (this runs at start-up of every
// program linking UiDriver); on Windows it returns at once.
bool WaitForDisplay(DWORD dwTimeoutMs);

// Polls fnDone every 20 ms (pumping this thread's messages) until it is true or the time is up.
bool WaitUntil(const std::function<bool()>& fnDone, DWORD dwTimeoutMs);

// A top-level window with exactly this text (of process dwProcessId, or of
// any process when 0); nullptr when none appears within the time.
HWND FindTopWindow(const std::string& strText, DWORD dwTimeoutMs, DWORD dwProcessId = 0);

// Text and visibility of control nId of a dialog of any process.
std::string ControlText(HWND hDlg, int nId);
// A window's text as UTF-8 (read as UTF-16).
std::string WindowText(HWND hWnd);
bool ControlVisible(HWND hDlg, int nId);
// The control's rectangle in the dialog's client coordinates.
RECT ControlRect(HWND hDlg, int nId);

// Presses and releases the left button on control nId at its centre, by
// posting the mouse messages to it.
bool ClickControl(HWND hDlg, int nId);
// Moves the real mouse pointer to the screen point.
bool MoveMouseTo(POINT ptScreen);
// Real mouse: press at the window's client point, move by (dx, dy) in steps, release.
bool DragWithMouse(HWND hWnd, POINT ptClient, int dx, int dy);
// Brings a window of another process on screen at (x, y) and waits until it is there.
bool MoveWindowTo(HWND hWnd, int x, int y);

// Keys typed as a person would (SendInput) into the window, brought to the foreground:
// '\t' Tab, '^' Shift+Tab, '>' Right, ' ' Space, '\r' Enter, '\x1b' Escape.
bool TypeKeys(HWND hWnd, const std::string& strKeys);
HWND FocusOf(HWND hWnd);  // the focused window of hWnd's thread
std::string AccessibleName(HWND hWnd);  // as a screen reader reads it (oleacc); "<none>" without one
