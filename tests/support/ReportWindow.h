#pragma once
// A message-only window on the creating thread that records every report of one
// message number, (wParam, lParam) in arrival order, and loops that pump this
// thread's messages while another thread works.
#include <windows.h>

#include <cstddef>
#include <functional>
#include <vector>

struct S_Report {
    WPARAM wParam;
    LPARAM lParam;
    bool operator==(const S_Report& other) const { return wParam == other.wParam && lParam == other.lParam; }
};

class ReportWindow {
public:
    explicit ReportWindow(UINT nMsg);
    ~ReportWindow();
    ReportWindow(const ReportWindow&) = delete;
    ReportWindow& operator=(const ReportWindow&) = delete;

    HWND Hwnd() const { return m_hWnd; }
    const std::vector<S_Report>& Reports() const { return m_vecReports; }
    size_t Count(WPARAM wParam, LPARAM lParam) const;
    // Runs inside the window procedure after each report is recorded.
    void SetHandler(std::function<void(WPARAM, LPARAM)> fnHandler) { m_fnHandler = std::move(fnHandler); }

private:
    static LRESULT CALLBACK WndProc(HWND hWnd, UINT nMsg, WPARAM wParam, LPARAM lParam);

    UINT m_nMsg;
    HWND m_hWnd = nullptr;
    std::vector<S_Report> m_vecReports;
    std::function<void(WPARAM, LPARAM)> m_fnHandler;
};

// Dispatches this thread's messages until fnDone() holds (true) or the time is up (false).
bool PumpUntil(const std::function<bool()>& fnDone, DWORD dwTimeoutMs);
// Dispatches this thread's messages for a while.
void PumpFor(DWORD dwMs);
