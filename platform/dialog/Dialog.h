#pragma once
// CDialog: a modal dialog from a resource template. The dialog procedure finds
// the object through DWLP_USER (set at WM_INITDIALOG) and forwards messages:
// WM_DRAWITEM and WM_CTLCOLOR* first to the object of the control concerned,
// then to the virtual OnMessage (a derived dialog's message map), then to the
// framework's defaults (IDOK -> OnOK, IDCANCEL -> OnCancel). No exception
// leaves the dialog procedure.
#include <windows.h>

#include "platform/dialog/DataExchange.h"
#include "platform/dialog/Wnd.h"

class CDialog : public CWnd {
public:
    explicit CDialog(UINT nIDTemplate, CWnd* pParentWnd = nullptr);
    ~CDialog() override;

    // Shows the dialog from the template in the application's module and
    // returns the value given to EndDialog; -1 when it could not be created.
    virtual INT_PTR DoModal();
    void EndDialog(int nResult);
    // FALSE: members -> controls; TRUE: controls -> members. FALSE on failure.
    BOOL UpdateData(BOOL bSaveAndValidate = TRUE);


protected:
    // Runs the data exchange (UpdateData(FALSE)); TRUE lets the system set the focus.
    virtual BOOL OnInitDialog();
    virtual void DoDataExchange(CDataExchange* pDX);
    // A derived dialog's message map; true when handled, with the result in *pResult.
    virtual bool OnMessage(UINT nMsg, WPARAM wParam, LPARAM lParam, LRESULT* pResult);
    virtual void OnOK();      // reads the controls back, ends with IDOK
    virtual void OnCancel();  // ends with IDCANCEL

    // Inside a handler: lets the dialog manager handle the message as well.
    LRESULT Default() override;
    void OnLButtonDown(UINT nFlags, POINT point);

    UINT m_nIDTemplate;
    CWnd* m_pParentWnd;

private:
    static INT_PTR CALLBACK DialogProc(HWND hDlg, UINT nMsg, WPARAM wParam, LPARAM lParam);
    bool HandleMessage(UINT nMsg, WPARAM wParam, LPARAM lParam, LRESULT* pResult);

    bool m_bWantDefault = false;
};
