#include "platform/dialog/DataExchange.h"

#include "platform/dialog/Wnd.h"

HWND CDataExchange::GetControl(int nIDC) const {
    return m_pDlgWnd ? ::GetDlgItem(m_pDlgWnd->m_hWnd, nIDC) : nullptr;
}

void DDX_Text(CDataExchange* pDX, int nIDC, CString& value) {
    HWND hControl = pDX->GetControl(nIDC);
    if (!hControl) {
        pDX->m_bFailed = true;
        return;
    }
    CWnd control;
    control.m_hWnd = hControl;
    if (pDX->m_bSaveAndValidate) control.GetWindowText(value);
    else control.SetWindowText(value);
    control.m_hWnd = nullptr;
}

void DDX_Control(CDataExchange* pDX, int nIDC, CWnd& rControl) {
    if (rControl.m_hWnd) return;
    HWND hControl = pDX->GetControl(nIDC);
    if (!hControl || !rControl.SubclassWindow(hControl)) pDX->m_bFailed = true;
}
