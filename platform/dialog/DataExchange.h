#pragma once
// Data exchange between a dialog's members and its controls, as the dialog's
// DoDataExchange lists it: UpdateData(FALSE) writes members into controls,
// UpdateData(TRUE) reads them back.
#include <windows.h>

#include "platform/dialog/AfxString.h"

class CWnd;

class CDataExchange {
public:
    CDataExchange(CWnd* pDlgWnd, BOOL bSaveAndValidate)
        : m_bSaveAndValidate(bSaveAndValidate), m_pDlgWnd(pDlgWnd) {}

    BOOL m_bSaveAndValidate;  // TRUE: controls -> members
    CWnd* m_pDlgWnd;
    // Set when a control named by an exchange does not exist or cannot be bound.
    bool m_bFailed = false;

    HWND GetControl(int nIDC) const;
};

// Control text <-> string.
void DDX_Text(CDataExchange* pDX, int nIDC, CString& value);
// Binds a member widget to the control by subclassing it (once; later calls keep the binding).
void DDX_Control(CDataExchange* pDX, int nIDC, CWnd& rControl);
