#include "platform/dialog/Dialog.h"

#include "platform/dialog/WinApp.h"

CDialog::CDialog(UINT nIDTemplate, CWnd* pParentWnd) : m_nIDTemplate(nIDTemplate), m_pParentWnd(pParentWnd) {}

CDialog::~CDialog() = default;

INT_PTR CDialog::DoModal() {
    if (m_hWnd) return -1;  // already showing
    HWND hParent = m_pParentWnd ? m_pParentWnd->m_hWnd : nullptr;
    return ::DialogBoxParamW(AfxGetInstanceHandle(), MAKEINTRESOURCEW(m_nIDTemplate), hParent,
                             &CDialog::DialogProc, reinterpret_cast<LPARAM>(this));
}

void CDialog::EndDialog(int nResult) {
    if (m_hWnd) ::EndDialog(m_hWnd, nResult);
}

BOOL CDialog::UpdateData(BOOL bSaveAndValidate) {
    CDataExchange dx(this, bSaveAndValidate);
    DoDataExchange(&dx);
    return dx.m_bFailed ? FALSE : TRUE;
}

BOOL CDialog::OnInitDialog() {
    UpdateData(FALSE);
    return TRUE;
}

void CDialog::DoDataExchange(CDataExchange*) {}

bool CDialog::OnMessage(UINT, WPARAM, LPARAM, LRESULT*) { return false; }

void CDialog::OnOK() {
    if (UpdateData(TRUE)) EndDialog(IDOK);
}

void CDialog::OnCancel() { EndDialog(IDCANCEL); }

LRESULT CDialog::Default() {
    m_bWantDefault = true;
    return 0;
}

void CDialog::OnLButtonDown(UINT, POINT) { Default(); }

bool CDialog::HandleMessage(UINT nMsg, WPARAM wParam, LPARAM lParam, LRESULT* pResult) {
    if (nMsg == WM_INITDIALOG) {
        *pResult = OnInitDialog();
        return true;
    }
    if (ReflectToChild(nMsg, wParam, lParam, pResult)) return true;
    if (OnMessage(nMsg, wParam, lParam, pResult)) return true;
    if (nMsg == WM_COMMAND && HIWORD(wParam) == BN_CLICKED) {
        if (LOWORD(wParam) == IDOK) {
            OnOK();
            return true;
        }
        if (LOWORD(wParam) == IDCANCEL) {
            OnCancel();
            return true;
        }
    }
    return false;
}

INT_PTR CALLBACK CDialog::DialogProc(HWND hDlg, UINT nMsg, WPARAM wParam, LPARAM lParam) {
    CDialog* pDlg = nullptr;
    if (nMsg == WM_INITDIALOG) {
        pDlg = reinterpret_cast<CDialog*>(lParam);
        ::SetWindowLongPtrW(hDlg, DWLP_USER, lParam);
        pDlg->BindHandle(hDlg);
    } else {
        pDlg = reinterpret_cast<CDialog*>(::GetWindowLongPtrW(hDlg, DWLP_USER));
    }
    if (!pDlg) return FALSE;  // messages before WM_INITDIALOG

    MSG saved = pDlg->m_currentMsg;
    bool bSavedDefault = pDlg->m_bWantDefault;
    pDlg->m_currentMsg = MSG{hDlg, nMsg, wParam, lParam, 0, {0, 0}};
    pDlg->m_bWantDefault = false;
    LRESULT lResult = 0;
    bool bHandled = false;
    try {
        bHandled = pDlg->HandleMessage(nMsg, wParam, lParam, &lResult);
    } catch (...) {
        // A failing handler must not unwind through the system: treat the message as unhandled.
        bHandled = false;
        if (nMsg == WM_INITDIALOG) lResult = TRUE;
    }
    if (pDlg->m_bWantDefault) bHandled = false;
    pDlg->m_currentMsg = saved;
    pDlg->m_bWantDefault = bSavedDefault;

    if (nMsg == WM_NCDESTROY) {
        ::SetWindowLongPtrW(hDlg, DWLP_USER, 0);
        pDlg->UnbindHandle();
    }
    if (!bHandled) return nMsg == WM_INITDIALOG ? TRUE : FALSE;

    // These return their result directly instead of through DWLP_MSGRESULT.
    if (IsCtlColorMessage(nMsg)) return static_cast<INT_PTR>(lResult);
    switch (nMsg) {
    case WM_INITDIALOG:
    case WM_COMPAREITEM:
    case WM_VKEYTOITEM:
    case WM_CHARTOITEM:
    case WM_QUERYDRAGICON:
        return static_cast<INT_PTR>(lResult);
    default:
        ::SetWindowLongPtrW(hDlg, DWLP_MSGRESULT, lResult);
        return TRUE;
    }
}
