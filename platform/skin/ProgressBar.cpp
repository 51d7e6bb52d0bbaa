#include "platform/skin/ProgressBar.h"

#include <commctrl.h>

#include <algorithm>

#include "platform/skin/ImageDialog.h"
#include "platform/skin/SkinDpi.h"
#include "platform/skin/SkinLayout.h"

void CPillar::SetRange(int nLower, int nUpper) {
    m_nLower = nLower;
    m_nUpper = nUpper;
    Repaint();
}

void CPillar::SetProgress(int nPos) {
    if (nPos == m_nPos) return;
    m_nPos = nPos;
    Repaint();
}

int CPillar::GetFilledWidth() const {
    if (!m_hWnd) return 0;
    RECT rc;
    ::GetClientRect(m_hWnd, &rc);
    return SkinFillWidth(m_nLower, m_nUpper, m_nPos, rc.right);
}

LRESULT CPillar::WindowProc(UINT nMsg, WPARAM wParam, LPARAM lParam) {
    // The common progress bar's queries, so that other programs (the UI tests)
    // can read the bar as they would a standard one.
    if (nMsg == PBM_GETPOS) return m_nPos;
    if (nMsg == PBM_GETRANGE) return wParam ? m_nLower : m_nUpper;  // no PBRANGE filled: callers may be other processes
    return CSkinStatic::WindowProc(nMsg, wParam, lParam);
}

void CPillar::DrawContent(HDC hdc, const RECT& rcClient) {
    DrawBar(hdc, rcClient, SkinFillWidth(m_nLower, m_nUpper, m_nPos, rcClient.right - rcClient.left));
}

void CPillar::DrawBar(HDC hdc, const RECT& rcClient, int nFilled) {
    UniqueGdiObject track(::CreateSolidBrush(RGB(221, 225, 230)));
    UniqueGdiObject fill(::CreateSolidBrush(RGB(76, 175, 80)));
    ::FillRect(hdc, &rcClient, static_cast<HBRUSH>(track.get()));
    RECT rcFill = {rcClient.left, rcClient.top, rcClient.left + nFilled, rcClient.bottom};
    ::FillRect(hdc, &rcFill, static_cast<HBRUSH>(fill.get()));
}

bool CProgressBar::SetBmpResource(UINT nTrack, UINT nLeft, UINT nMiddle, UINT nRight, HINSTANCE hInst) {
    m_nIds[0] = nTrack;
    m_nIds[1] = nLeft;
    m_nIds[2] = nMiddle;
    m_nIds[3] = nRight;
    m_hInst = hInst;
    return LoadBitmaps();
}

bool CProgressBar::LoadBitmaps() {
    const UINT nDpi = SkinDpiOf(m_hWnd);
    bool bAll = m_track.LoadBitmap(m_nIds[0], m_hInst, nDpi);
    bAll = m_left.LoadBitmap(m_nIds[1], m_hInst, nDpi) && bAll;
    bAll = m_middle.LoadBitmap(m_nIds[2], m_hInst, nDpi) && bAll;
    bAll = m_right.LoadBitmap(m_nIds[3], m_hInst, nDpi) && bAll;
    Repaint();
    return bAll;
}

void CProgressBar::PreSubclassWindow() {
    // Bitmaps chosen before binding were loaded for the system DPI.
    if (m_nIds[0]) LoadBitmaps();
}

LRESULT CProgressBar::WindowProc(UINT nMsg, WPARAM wParam, LPARAM lParam) {
    if (nMsg == WM_DPICHANGED_AFTERPARENT && m_nIds[0]) LoadBitmaps();
    return CPillar::WindowProc(nMsg, wParam, lParam);
}

void CProgressBar::DrawBar(HDC hdc, const RECT& rcClient, int nFilled) {
    if (!m_track.IsLoaded()) {
        CPillar::DrawBar(hdc, rcClient, nFilled);
        return;
    }
    int cx = rcClient.right - rcClient.left;
    int cy = std::min<int>(m_track.Height(), rcClient.bottom - rcClient.top);
    int y = rcClient.top + (rcClient.bottom - rcClient.top - cy) / 2;
    // The track keeps its rounded ends at any width.
    for (const SkinSpan& span : SkinAxisSpans(kSkinSplitEdges, m_track.Width(), cx))
        m_track.Draw(hdc, rcClient.left + span.nDst, y, span.nDstLen, cy, span.nSrc, 0, span.nSrcLen, cy);

    const CAlphaBitmap* parts[] = {&m_left, &m_middle, &m_right};
    for (const SkinFillPiece& piece : SkinFillPieces(nFilled, m_left.Width(), m_middle.Width(), m_right.Width())) {
        const CAlphaBitmap& part = *parts[piece.part];
        int cyPart = std::min(cy, part.Height());
        part.Draw(hdc, rcClient.left + piece.nDstX, y, piece.nWidth, cyPart, piece.nSrcX, 0, piece.nWidth, cyPart);
    }
}
