#pragma once
// The windows: every size and position in twips (15 to a pixel), laid out
// as tables, one row to a window, control or menu item.

#include <QColor>

#include <span>
#include <string_view>

namespace defs
{

struct Rgb {
    int r, g, b;
};

struct WindowDef {
    const char *name;
    const char *caption;
    int clientWidth, clientHeight; // twips
    int clientLeft, clientTop;     // twips from the screen's top-left; -1: centred on the screen
    Rgb background;
};

struct ControlDef {
    const char *name;
    const char *container; // "" for the window's client area
    int left, top, width, height;
};

struct MenuDef {
    int level; // 0 heading, 1 item
    const char *name;
    const char *caption; // "-" is a separator
    bool checked;
};

// clang-format off
// --- MainWindow: the main window --------------------------------------------------------------
inline constexpr WindowDef MainWindow{
    // name    caption                                  client w  h     client left top  background
    "MainWindow", "みぽＱＵＩＢＢＯ－IEキャプチャ機能付",    6855, 3660,   3855, 2070,   {237, 211, 227}};

// toolStrip's controls are measured from the strip's inner area.
inline constexpr ControlDef MainWindowControls[] = {
    // name        container     left   top  width  height
    {"toolStrip",  "",              0,     0,  6255,   855},
    {"openButton",  "toolStrip",    120,   120,   615,   615},
    {"saveButton",  "toolStrip",    840,   120,   615,   615},
    {"copyDesktopButton",  "toolStrip",   1560,   120,   615,   615},
    {"importClipboardButton",  "toolStrip",   2280,   120,   615,   615},
    {"browserButton",  "toolStrip",   3000,   120,   615,   615},
    {"captureWaitTitle",    "toolStrip",   3840,   120,  1695,   135},
    {"captureWaitLabel",    "toolStrip",   3840,   360,  1095,   255},
    {"captureWaitBar",  "toolStrip",   3840,   600,  2295,   135},
    {"pictureBox",  "",              0,   840,  1020,  1020},
    {"pictureView",    "",              0,   840,  1545,  1800},
};

inline constexpr MenuDef MainWindowMenu[] = {
    // level name          caption                              checked
    {0, "fileMenu",   "ファイル(&F)",                          false},
    {1, "openItem",   "開く(&O)",                              false},
    {1, "saveItem",   "保存(&S)",                              false},
    {1, "quitItem",    "終了(&E)",                              false},
    {0, "editMenu",   "編集(&A)",                              false},
    {1, "copyDesktopItem",   "全体をクリップにコピー",                false},
    {1, "importClipboardItem",   "クリップボードの画像を取り込む",        false},
    {1, "browserCaptureItem",     "IEブラウザキャプチャ",                  false},
    {1, "menuSeparator", "-",                                     false},
    {1, "offlineItem",    "ＩＥオフライン",                        true},
    {1, "onlineItem",     "ＩＥオンライン",                        false},
    {0, "windowMenu",    "ウィンドウ(&W)",                        false},
    {1, "compareItem", "画質の比較(&C)",                       false},
    {1, "aboutItem",    "バージョン情報(&B)",                    false},
};
// clang-format on

inline constexpr const char *MainWindowCaptureWaitTitle = "ＩＥキャプチャＴＩＭＥバー";
inline constexpr double MainWindowCaptureWaitTitleFontPt = 8.25;
// The usual keys beside the menus' mnemonics.
struct ShortcutDef {
    const char *item;
    const char *keys; // as QKeySequence reads them
};
inline constexpr ShortcutDef MainWindowShortcuts[] = {
    {"openItem", "Ctrl+O"},
    {"saveItem", "Ctrl+S"},
    {"quitItem", "Ctrl+Q"},
    {"compareItem", "Ctrl+K"},
};

// captureWaitBar: minimum, maximum, value, small step, large step
inline constexpr int MainWindowCaptureWaitRange[5] = {1, 3000, 1500, 1, 1};
// Focus order; labels, the strip toolStrip and the invisible pictureBox take no focus.
inline constexpr const char *MainWindowTabOrder[] = {"openButton",        "saveButton",
                                                     "copyDesktopButton", "importClipboardButton",
                                                     "browserButton",     "captureWaitBar"};

// clang-format off
// --- InformationWindow: the picture information window ----------------------------------------------
inline constexpr WindowDef InformationWindow{
    // name    caption            client w  h     placement      background
    "InformationWindow", "ファイルネーム",    3930, 1695,     -1, -1,        {250, 253, 185}};

inline constexpr ControlDef InformationWindowControls[] = {
    // name       container  left   top  width  height
    {"fileNameLabel",    "",         600,   240,  2895,   615},
    {"resolutionTitle",    "",        1080,   840,  1455,   255},
    {"qualityLabel",    "",        1200,  1080,  1455,   375},
    {"qualityBar",  "",        1200,  1440,  1455,   135},
};
// clang-format on

// An extra label: the size the JPEG will have, right of the quality number,
// where it covers no other control and stays inside the ellipse.
inline constexpr ControlDef InformationWindowSizeLabel{"SizeLabel", "", 2700, 1095, 825, 240};

inline constexpr const char *InformationWindowResolutionTitle = "解像度";
inline constexpr double InformationWindowQualityFontPt = 12.0;
inline constexpr int InformationWindowQualityRange[5] = {0, 100, 50, 1, 1};

// clang-format off
// --- AboutBox: the About box ------------------------------------------------------------
inline constexpr WindowDef AboutBox{
    // name       caption          client w  h     client left top  background (button face)
    "AboutBox", "ﾊﾞｰｼﾞｮﾝ情報",    4260, 3675,   1125, 1770,   {-1, -1, -1}};

inline constexpr ControlDef AboutBoxControls[] = {
    // name               container  left   top  width  height
    {"iconLabel",           "",         240,   480,   480,   480},
    {"titleLabel",          "",         840,   240,  3885,   480},
    {"versionLabel",        "",         840,   780,  3885,   225},
    {"descriptionLabel",    "",         120,  1125,  3885,  1170},
    {"disclaimerLabel",     "",         255,  2625,  3870,   825},
    {"okButton",             "",        2640,  2520,  1310,   345},
    {"systemInfoButton",        "",        2640,  3000,  1310,   345},
};
// The divider line: from (90, 2445) to (3960, 2445), grey, one pixel.
inline constexpr int AboutBoxDividerLine[4] = {90, 2445, 3960, 2445};
inline constexpr Rgb AboutBoxDividerLineColor{128, 128, 128};
inline constexpr Rgb AboutBoxTitleColor{255, 0, 0};
inline constexpr double AboutBoxTitleFontPt = 14.25;
// The box's texts are always black, so its face stays the classic light grey.
inline constexpr Rgb AboutBoxBackground{240, 240, 240};
inline constexpr const char *AboutBoxTexts[][2] = {
    {"titleLabel", "みぽＱＵＩＢＢＯ"},
    {"versionLabel", "Ver.0.2β"},
    {"descriptionLabel", "Jpeg//Bmp簡易変換ツール"},
    {"disclaimerLabel", "Hollowmere　2000"},
    {"okButton", "OK"},
    {"systemInfoButton", "ｼｽﾃﾑ情報(&S)..."},
};
// clang-format on

// --- the compare window: a normal, resizable window ------------------------------------
inline constexpr WindowDef CompareWindow{
    // name            caption        client w  h     placement  background (the window's own)
    "CompareWindow", "画質の比較", 10800, 8100, -1, -1, {-1, -1, -1}};
inline constexpr int CompareWindowMinimum[2] = {5400, 3600}; // client w, h in twips
// The keys that pick a zoom, beside its buttons; 0 fits the window.
inline constexpr int CompareZooms[] = {0, 1, 2, 4};

// The windows' proportional face is "ＭＳ Ｐゴシック"; IPAPGothic has its metrics and
// is asked for first, by name: under a Japanese locale fontconfig answers that
// name with the fixed-width IPAGothic, and captions no longer fit.
inline constexpr const char *FontFamilies[] = {"IPAPGothic", "ＭＳ Ｐゴシック", "Noto Sans CJK JP"};
// The window's default user-interface font, in points.
inline constexpr double DefaultFontPt = 9.0;

// Picture boxes: a sunken 3-D border of two pixels; transparent parts of
// their pictures take this face where no window has given its own.
inline constexpr int PictureBorderPx = 2;
inline constexpr Rgb PictureBackground{240, 240, 240};

// Looks a control up by name in a table; a missing name is a programming error.
const ControlDef &control(std::span<const ControlDef> table, std::string_view name);

inline QColor color(Rgb c)
{
    return QColor(c.r, c.g, c.b);
}

} // namespace defs
