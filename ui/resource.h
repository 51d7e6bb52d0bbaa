#pragma once
// Resource ids of the two dialogs, their controls and their images.

// Progress-bar bitmaps (BITMAP).
#define IDB_PROGRESS_TRACK 19500   // 300 x 12 grey track
#define IDB_PROGRESS_MIDDLE 19501  // 5 x 12 middle of the green fill, tiled
#define IDB_PROGRESS_LEFT 19502    // 10 x 12 rounded left end of the fill
#define IDB_PROGRESS_RIGHT 19503   // 10 x 12 rounded right end of the fill

// Controls.
#define IDC_BTN_CLOSE 19504          // update dialog: "关闭"; notification: the close mark
#define IDC_BTN_CLOSEX 19505         // update dialog: the close mark
#define IDC_BTN_LATER 19506          // notification: "下次升级 "
#define IDC_BTN_UPGRADE 19507        // notification: "立即升级"
#define IDC_BTN_UPDATE 19508         // update dialog: "立即升级"
#define IDC_PROGRESS 19509           // update dialog: download progress
#define IDC_TXT_CURVERSION 19510     // notification: installed version
#define IDC_TXT_MESSAGE 19511        // update dialog: message line
#define IDC_TXT_CANUPDATE 19512      // update dialog: "可更新，"
#define IDC_TXT_QUESTION 19513       // update dialog: question line
#define IDC_PIC_ICON 19514           // update dialog: state icon
#define IDC_TXT_NOTIFY_NEWVER 19515  // notification: new version
#define IDC_LINK 19516               // the web-site link (no control in the templates)
#define IDC_PIC_HEADING 19517        // update dialog: heading picture
#define IDC_TXT_TITLE 19518          // both: title in the top band
#define IDC_TXT_NEWVERSION 19519     // update dialog: offered version

// Dialog templates.
#define IDD_NOTIFY 19520
#define IDD_UPDATE 19521

// PNG images (resource type "PNG"). The ids of images and bitmaps name their
// 100 % drawing; the drawing at 125, 150, 175 or 200 % has the id + 100, 200,
// 300 or 400 (ui/res/scaled.rc).
#define IDP_NOTIFY_FACE 19523        // 350 x 230 notification face
#define IDP_BTN_PRESSED 19524        // 73 x 28 button faces
#define IDP_BTN_NORMAL 19525
#define IDP_BTN_HOVER 19526
#define IDP_CLOSEX_NORMAL 19527      // 39 x 22 close marks
#define IDP_CLOSEX_PRESSED 19528
#define IDP_CLOSEX_HOVER 19529
#define IDP_ICON_UPTODATE 19530      // 80 x 80 yellow disc with an exclamation mark
#define IDP_ICON_OFFER 19531         // 84 x 84 globe in circling arrows
#define IDP_HEAD_DOWNLOADING 19532   // 214 x 20 "正在下载更新，请稍等..."
#define IDP_HEAD_OFFER 19533         // 132 x 20 "发现可用更新！"
#define IDP_HEAD_UPTODATE 19534      // 132 x 20 "没有可用更新！"
#define IDP_HEAD_INSTALLING 19535    // 214 x 20 "正在安装更新，请稍等..."
#define IDP_UPDATE_FACE 19536        // 430 x 230 update dialog face

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif
