#include "platform/skin/SkinLayout.h"

#include <algorithm>

std::vector<SkinSpan> SkinAxisSpans(int nImageType, int nImage, int nTarget) {
    std::vector<SkinSpan> spans;
    if (nImage <= 0 || nTarget <= 0) return spans;
    if (nImageType != kSkinSplitEdges || nImage == nTarget) {
        spans.push_back({0, nImage, 0, nTarget});
        return spans;
    }
    if (nTarget > nImage) {
        int nHead = nImage / 2;
        int nTail = nImage - nHead;
        if (nHead > 0) spans.push_back({0, nHead, 0, nHead});
        spans.push_back({nHead, 1, nHead, nTarget - nImage});  // the middle line, repeated
        spans.push_back({nHead, nTail, nTarget - nTail, nTail});
        return spans;
    }
    int nTail = nTarget / 2;
    int nHead = nTarget - nTail;
    spans.push_back({0, nHead, 0, nHead});
    if (nTail > 0) spans.push_back({nImage - nTail, nTail, nHead, nTail});
    return spans;
}

RECT SkinFitImage(int cxImage, int cyImage, int cxBox, int cyBox) {
    RECT rc = {0, 0, 0, 0};
    if (cxImage <= 0 || cyImage <= 0 || cxBox <= 0 || cyBox <= 0) return rc;
    int cx = cxImage;
    int cy = cyImage;
    if (cxImage > cxBox + kSkinFitTolerance || cyImage > cyBox + kSkinFitTolerance) {
        // Scale by the tighter of the two ratios, in integers.
        if (static_cast<long long>(cxImage) * cyBox > static_cast<long long>(cyImage) * cxBox) {
            cx = cxBox;
            cy = std::max(1, static_cast<int>(static_cast<long long>(cyImage) * cxBox / cxImage));
        } else {
            cy = cyBox;
            cx = std::max(1, static_cast<int>(static_cast<long long>(cxImage) * cyBox / cyImage));
        }
    }
    rc.left = (cxBox - cx) / 2;
    rc.top = (cyBox - cy) / 2;
    rc.right = rc.left + cx;
    rc.bottom = rc.top + cy;
    return rc;
}

int SkinFillWidth(int nLower, int nUpper, int nPos, int nWidth) {
    if (nUpper <= nLower || nWidth <= 0) return 0;
    long long nSpan = static_cast<long long>(nUpper) - nLower;
    long long nDone = static_cast<long long>(std::min(std::max(nPos, nLower), nUpper)) - nLower;
    return static_cast<int>(nDone * nWidth / nSpan);
}

std::vector<SkinFillPiece> SkinFillPieces(int nFill, int cxLeft, int cxMiddle, int cxRight) {
    std::vector<SkinFillPiece> pieces;
    if (nFill <= 0 || cxLeft < 0 || cxRight < 0) return pieces;
    if (nFill < cxLeft + cxRight || cxMiddle <= 0) {
        int nRightPart = std::min(cxRight, nFill / 2);
        int nLeftPart = std::min(cxLeft, nFill - nRightPart);
        if (nLeftPart > 0) pieces.push_back({SkinFillPiece::kLeft, 0, 0, nLeftPart});
        if (nRightPart > 0) pieces.push_back({SkinFillPiece::kRight, cxRight - nRightPart, nLeftPart, nRightPart});
        return pieces;
    }
    if (cxLeft > 0) pieces.push_back({SkinFillPiece::kLeft, 0, 0, cxLeft});
    for (int x = cxLeft; x < nFill - cxRight; x += cxMiddle)
        pieces.push_back({SkinFillPiece::kMiddle, 0, x, std::min(cxMiddle, nFill - cxRight - x)});
    if (cxRight > 0) pieces.push_back({SkinFillPiece::kRight, 0, nFill - cxRight, cxRight});
    return pieces;
}

int SkinScale(int n, UINT nDpi) { return ::MulDiv(n, static_cast<int>(nDpi), static_cast<int>(kSkinDesignDpi)); }

RECT SkinScaleRect(const RECT& rc, UINT nDpi) {
    const int x = SkinScale(rc.left, nDpi);
    const int y = SkinScale(rc.top, nDpi);
    return RECT{x, y, x + SkinScale(rc.right - rc.left, nDpi), y + SkinScale(rc.bottom - rc.top, nDpi)};
}
