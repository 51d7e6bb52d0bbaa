#include "ui/DialogLayout.h"

#include "ui/resource.h"

namespace {

struct SDesign {
    UINT nTemplateId;
    SIZE size;
    std::vector<SkinControlPlace> controls;
};

const int kBandHeight = 30;
const int kTaskbarMargin = 5;
const int kTextHeight = 12;  // 9 points

// The designs at 100 %, controls in template order.
const SDesign kDesigns[] = {
    {IDD_UPDATE,
     {430, 231},
     {
         {IDC_TXT_TITLE, {9, 9, 132, 24}},
         {IDC_PIC_HEADING, {111, 53, 329, 74}},  // a picture takes its image's size
         {IDC_PIC_ICON, {12, 53, 89, 130}},
         {IDC_PROGRESS, {105, 86, 405, 98}},
         {IDC_TXT_MESSAGE, {111, 114, 329, 129}},
         {IDC_TXT_NEWVERSION, {242, 114, 332, 126}},
         {IDC_TXT_CANUPDATE, {338, 114, 389, 126}},
         {IDC_TXT_QUESTION, {111, 134, 381, 146}},
         {IDC_BTN_UPDATE, {249, 194, 329, 224}},
         {IDC_BTN_CLOSE, {339, 194, 419, 224}},
         {IDC_BTN_CLOSEX, {386, 3, 425, 26}},
     }},
    {IDD_NOTIFY,
     {350, 231},
     {
         {IDC_STATIC, {105, 86, 228, 101}},  // "QOVA有新版本"
         {IDC_BTN_UPGRADE, {132, 194, 212, 224}},
         {IDC_STATIC, {105, 122, 335, 134}},  // "是否要进行升级？"
         {IDC_TXT_NOTIFY_NEWVER, {234, 86, 329, 98}},
         {IDC_BTN_LATER, {230, 194, 310, 224}},
         {IDC_STATIC, {105, 150, 177, 162}},  // "当前版本："
         {IDC_BTN_CLOSE, {309, 2, 347, 25}},
         {IDC_STATIC, {296, 86, 346, 98}},  // "可更新，", hidden
         {IDC_TXT_CURVERSION, {171, 150, 266, 162}},
         {IDC_TXT_TITLE, {9, 9, 132, 24}},
     }},
};

}  // namespace

SDialogLayout LayoutDialog(UINT nTemplateId, UINT nDpi) {
    SDialogLayout layout;
    for (const SDesign& design : kDesigns) {
        if (design.nTemplateId != nTemplateId) continue;
        layout.size = {SkinScale(design.size.cx, nDpi), SkinScale(design.size.cy, nDpi)};
        layout.nFontHeight = SkinScale(kTextHeight, nDpi);
        layout.nBandHeight = SkinScale(kBandHeight, nDpi);
        layout.nTaskbarMargin = SkinScale(kTaskbarMargin, nDpi);
        for (const SkinControlPlace& place : design.controls)
            layout.controls.push_back({place.nId, SkinScaleRect(place.rc, nDpi)});
    }
    return layout;
}
