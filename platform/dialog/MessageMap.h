#pragma once
// A dialog's message map in plain C++: a table of entries, searched in order,
// each binding one message (or one button's BN_CLICKED) to a member handler.
//
//   const MessageMap<CDlgX>& CDlgX::GetMessageMap() {
//       static const MessageMap<CDlgX> map = {
//           MapBnClicked<CDlgX>(IDC_BTN_OK, &CDlgX::OnBtnOk),
//           MapCtlColor<CDlgX>(&CDlgX::OnCtlColor),
//           MapMessage<CDlgX>(WM_APP + 1, &CDlgX::OnAppMessage),
//       };
//       return map;
//   }
#include <windows.h>

#include <functional>
#include <initializer_list>
#include <vector>

#include "platform/dialog/Wnd.h"

template <class T>
class MessageMap {
public:
    struct Entry {
        UINT nMsg;      // WM_COMMAND, WM_CTLCOLORSTATIC standing for every WM_CTLCOLOR*, or any other
        UINT nId;       // WM_COMMAND only: control id
        UINT nCode;     // WM_COMMAND only: notification code
        std::function<LRESULT(T&, UINT, WPARAM, LPARAM)> fn;
    };

    MessageMap(std::initializer_list<Entry> entries) : m_entries(entries) {}

    // Runs the first matching entry; false when none matches.
    bool Dispatch(T& wnd, UINT nMsg, WPARAM wParam, LPARAM lParam, LRESULT* pResult) const {
        for (const Entry& entry : m_entries) {
            if (!Matches(entry, nMsg, wParam)) continue;
            *pResult = entry.fn(wnd, nMsg, wParam, lParam);
            return true;
        }
        return false;
    }

private:
    static bool Matches(const Entry& entry, UINT nMsg, WPARAM wParam) {
        if (entry.nMsg == WM_COMMAND)
            return nMsg == WM_COMMAND && LOWORD(wParam) == entry.nId && HIWORD(wParam) == entry.nCode;
        if (entry.nMsg == WM_CTLCOLORSTATIC) return IsCtlColorMessage(nMsg);
        return nMsg == entry.nMsg;
    }

    std::vector<Entry> m_entries;
};

// BN_CLICKED from control nId: void OnX().
template <class T>
typename MessageMap<T>::Entry MapBnClicked(UINT nId, void (T::*pfn)()) {
    return {WM_COMMAND, nId, BN_CLICKED, [pfn](T& wnd, UINT, WPARAM, LPARAM) -> LRESULT {
                (wnd.*pfn)();
                return 0;
            }};
}

// Every WM_CTLCOLOR*: HBRUSH OnCtlColor(HDC, HWND control, UINT CTLCOLOR_* kind).
template <class T>
typename MessageMap<T>::Entry MapCtlColor(HBRUSH (T::*pfn)(HDC, HWND, UINT)) {
    return {WM_CTLCOLORSTATIC, 0, 0, [pfn](T& wnd, UINT nMsg, WPARAM wParam, LPARAM lParam) -> LRESULT {
                UINT nKind = nMsg - WM_CTLCOLORMSGBOX;
                HBRUSH hBrush = (wnd.*pfn)(reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam), nKind);
                return reinterpret_cast<LRESULT>(hBrush);
            }};
}

// WM_LBUTTONDOWN: void OnLButtonDown(UINT flags, POINT client point, signed).
template <class T>
typename MessageMap<T>::Entry MapLButtonDown(void (T::*pfn)(UINT, POINT)) {
    return {WM_LBUTTONDOWN, 0, 0, [pfn](T& wnd, UINT, WPARAM wParam, LPARAM lParam) -> LRESULT {
                POINT point = {static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
                (wnd.*pfn)(static_cast<UINT>(wParam), point);
                return 0;
            }};
}

// Any other message: LRESULT OnX(WPARAM, LPARAM).
template <class T>
typename MessageMap<T>::Entry MapMessage(UINT nMsg, LRESULT (T::*pfn)(WPARAM, LPARAM)) {
    return {nMsg, 0, 0, [pfn](T& wnd, UINT, WPARAM wParam, LPARAM lParam) -> LRESULT {
                return (wnd.*pfn)(wParam, lParam);
            }};
}
