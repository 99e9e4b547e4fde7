#pragma once
// The main window: its controls, its state record and its handlers. The
// commands of the capture and picture-file subsystems are handlers on this
// window too and live in those folders.

#include "picture_files/common_dialog.h"

#include <QMainWindow>

#include <cstdint>

class Program;
class PictureBox;
class ImageBox;
class GraphicalButton;
class QLabel;
class QScrollBar;
class QAction;
class QMenu;

class Form1 : public QMainWindow
{
    Q_OBJECT
public:
    explicit Form1(Program &program);
    ~Form1() override;

    // --- state record ---
    QString FileName;
    float PicWidth = 0;
    int32_t PicHeight = 0;
    int16_t IEMode = 0;
    int32_t CaptureWait = 0;

    // --- controls ---
    PictureBox *Picture2;
    GraphicalButton *Command1, *Command2, *Command3, *Command4, *Command5;
    QLabel *Label1, *Label2;
    QScrollBar *HScroll1;
    PictureBox *Picture1;
    ImageBox *Image1;
    QMenu *mnufile, *mnuedit, *mnuwin;
    CommonDialog CommonDialog1;
    QAction *mnuopen, *mnusave, *mnuend, *mnucopy, *mnuclip, *mnuie, *mnuborder, *mnuoff, *mnuon,
        *mnuver;

    // --- handlers ---
    void Form_Load();
    void Form_Resize();
    void Form_Unload(int16_t &Cancel);
    void HScroll1_Change();
    void Image1_Click();
    void Command1_Click();
    void Command2_Click();
    void Command3_Click();
    void Command4_Click();
    void Command5_Click();
    void mnuie_Click();
    void mnuend_Click();
    void mnuver_Click();
    void mnuopen_Click();
    void mnusave_Click();
    void mnucopy_Click();
    void mnuclip_Click();
    void mnuoff_Click();
    void mnuon_Click();
    void AdoptClipboardPicture();

    // --- window properties, in twips ---
    float Height() const;        // outer height, frame included
    void setHeight(float twips); // raises a resize, as the layout expects
    float ScaleWidth() const;    // client area below the menu bar
    float ScaleHeight() const;
    void Show();
    // A menu item's check mark.
    static void setChecked(QAction *item, bool checked);

protected:
    void resizeEvent(QResizeEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void changeEvent(QEvent *event) override;

    Program &program() { return program_; }

private:
    void buildMenus();
    void buildControls();
    int menuBarHeight(int windowWidth) const;
    Program &program_;
};
