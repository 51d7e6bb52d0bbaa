#include "ui/ButtonSkins.h"

#include "ui/resource.h"

void SkinCaptionButton(CImageButtonX& button) {
    button.SetNormalImage(IDP_BTN_NORMAL, nullptr);
    button.SetOverImage(IDP_BTN_HOVER, nullptr);
    button.SetSelectImage(IDP_BTN_PRESSED, nullptr);
    button.SetTextColor(CImageButtonX::kNormal, RGB(51, 51, 51));
    button.SetTextColor(CImageButtonX::kHover, RGB(255, 255, 255));
    button.SetTextColor(CImageButtonX::kPressed, RGB(255, 255, 255));
    button.SetShowText(true);
}

void SkinCloseMark(CImageButtonX& button) {
    button.SetNormalImage(IDP_CLOSEX_NORMAL, nullptr);
    button.SetOverImage(IDP_CLOSEX_HOVER, nullptr);
    button.SetSelectImage(IDP_CLOSEX_PRESSED, nullptr);
}
