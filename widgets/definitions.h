#pragma once
// The windows as designed: every size and position in twips (15 to a pixel),
// laid out so each row can be read beside the design tables.

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

// Picture2's controls are measured from the strip's inner area.
inline constexpr ControlDef MainWindowControls[] = {
    // name        container     left   top  width  height
    {"Picture2",  "",              0,     0,  6255,   855},
    {"Command1",  "Picture2",    120,   120,   615,   615},
    {"Command2",  "Picture2",    840,   120,   615,   615},
    {"Command3",  "Picture2",   1560,   120,   615,   615},
    {"Command4",  "Picture2",   2280,   120,   615,   615},
    {"Command5",  "Picture2",   3000,   120,   615,   615},
    {"Label1",    "Picture2",   3840,   120,  1695,   135},
    {"Label2",    "Picture2",   3840,   360,  1095,   255},
    {"HScroll1",  "Picture2",   3840,   600,  2295,   135},
    {"Picture1",  "",              0,   840,  1020,  1020},
    {"Image1",    "",              0,   840,  1545,  1800},
};

inline constexpr MenuDef MainWindowMenu[] = {
    // level name          caption                              checked
    {0, "mnufile",   "ファイル(&F)",                          false},
    {1, "mnuopen",   "開く(&O)",                              false},
    {1, "mnusave",   "保存(&S)",                              false},
    {1, "mnuend",    "終了(&E)",                              false},
    {0, "mnuedit",   "編集(&A)",                              false},
    {1, "mnucopy",   "全体をクリップにコピー",                false},
    {1, "mnuclip",   "クリップボードの画像を取り込む",        false},
    {1, "mnuie",     "IEブラウザキャプチャ",                  false},
    {1, "mnuborder", "-",                                     false},
    {1, "mnuoff",    "ＩＥオフライン",                        true},
    {1, "mnuon",     "ＩＥオンライン",                        false},
    {0, "mnuwin",    "ウィンドウ(&W)",                        false},
    {1, "mnucompare", "画質の比較(&C)",                       false},
    {1, "mnuver",    "バージョン情報(&B)",                    false},
};
// clang-format on

inline constexpr const char *MainWindowLabel1Caption = "ＩＥキャプチャＴＩＭＥバー";
inline constexpr double MainWindowLabel1FontPt = 8.25;
// The usual keys beside the menus' mnemonics.
struct ShortcutDef {
    const char *item;
    const char *keys; // as QKeySequence reads them
};
inline constexpr ShortcutDef MainWindowShortcuts[] = {
    {"mnuopen", "Ctrl+O"},
    {"mnusave", "Ctrl+S"},
    {"mnuend", "Ctrl+Q"},
    {"mnucompare", "Ctrl+K"},
};

// HScroll1: minimum, maximum, value, small step, large step
inline constexpr int MainWindowHScroll1[5] = {1, 3000, 1500, 1, 1};
// Focus order; labels, the strip Picture2 and the invisible Picture1 take no focus.
inline constexpr const char *MainWindowTabOrder[] = {"Command1", "Command2", "Command3",
                                                     "Command4", "Command5", "HScroll1"};

// clang-format off
// --- InformationWindow: the picture information window ----------------------------------------------
inline constexpr WindowDef InformationWindow{
    // name    caption            client w  h     placement      background
    "InformationWindow", "ファイルネーム",    3930, 1695,     -1, -1,        {250, 253, 185}};

inline constexpr ControlDef InformationWindowControls[] = {
    // name       container  left   top  width  height
    {"Label1",    "",         600,   240,  2895,   615},
    {"Label3",    "",        1080,   840,  1455,   255},
    {"Label2",    "",        1200,  1080,  1455,   375},
    {"HScroll1",  "",        1200,  1440,  1455,   135},
};
// clang-format on

// Not in the design: the size the JPEG will have, right of the quality
// number, where it covers nothing of the design and stays inside the ellipse.
inline constexpr ControlDef InformationWindowSizeLabel{"SizeLabel", "", 2700, 1095, 825, 240};

inline constexpr const char *InformationWindowLabel3Caption = "解像度";
inline constexpr double InformationWindowLabel2FontPt = 12.0;
inline constexpr int InformationWindowHScroll1[5] = {0, 100, 50, 1, 1};

// clang-format off
// --- AboutBox: the About box ------------------------------------------------------------
inline constexpr WindowDef AboutBox{
    // name       caption          client w  h     client left top  background (button face)
    "AboutBox", "ﾊﾞｰｼﾞｮﾝ情報",    4260, 3675,   1125, 1770,   {-1, -1, -1}};

inline constexpr ControlDef AboutBoxControls[] = {
    // name               container  left   top  width  height
    {"picIcon",           "",         240,   480,   480,   480},
    {"lblTitle",          "",         840,   240,  3885,   480},
    {"lblVersion",        "",         840,   780,  3885,   225},
    {"lblDescription",    "",         120,  1125,  3885,  1170},
    {"lblDisclaimer",     "",         255,  2625,  3870,   825},
    {"cmdOK",             "",        2640,  2520,  1310,   345},
    {"cmdSysInfo",        "",        2640,  3000,  1310,   345},
};
// Line1: from (90, 2445) to (3960, 2445), grey, one pixel.
inline constexpr int AboutBoxLine1[4] = {90, 2445, 3960, 2445};
inline constexpr Rgb AboutBoxLine1Color{128, 128, 128};
inline constexpr Rgb AboutBoxTitleColor{255, 0, 0};
inline constexpr double AboutBoxTitleFontPt = 14.25;
// The box's texts are black by design: its face stays the classic light grey.
inline constexpr Rgb AboutBoxBackground{240, 240, 240};
inline constexpr const char *AboutBoxTexts[][2] = {
    {"lblTitle", "みぽＱＵＩＢＢＯ"},
    {"lblVersion", "Ver.0.2β"},
    {"lblDescription", "Jpeg//Bmp簡易変換ツール"},
    {"lblDisclaimer", "Hollowmere　2000"},
    {"cmdOK", "OK"},
    {"cmdSysInfo", "ｼｽﾃﾑ情報(&S)..."},
};
// clang-format on

// --- the compare window: a normal, resizable window ------------------------------------
inline constexpr WindowDef CompareWindow{
    // name            caption        client w  h     placement  background (the window's own)
    "CompareWindow", "画質の比較", 10800, 8100, -1, -1, {-1, -1, -1}};
inline constexpr int CompareWindowMinimum[2] = {5400, 3600}; // client w, h in twips
// The keys that pick a zoom, beside its buttons; 0 fits the window.
inline constexpr int CompareZooms[] = {0, 1, 2, 4};

// The design's proportional face is "ＭＳ Ｐゴシック"; IPAPGothic has its metrics and
// is asked for first, by name: under a Japanese locale fontconfig answers the
// design's name with the fixed-width IPAGothic, and captions no longer fit.
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
