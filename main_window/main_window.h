#pragma once
// The main window: a view of the picture document, its controls and its
// handlers. The handlers of commands are one-line calls into the capture and
// picture-file commands.

#include "core/services.h"
#include "picture_files/file_dialog.h"

#include <QMainWindow>
#include <QStringList>

#include <cstdint>
#include <functional>

class PictureDocument;
class PictureBox;
class ImageBox;
class GraphicalButton;
class QLabel;
class QScrollBar;
class QAction;
class QMenu;

class MainWindow : public QMainWindow
{
    Q_OBJECT
public:
    // What the main window's handlers ask of the program's other windows.
    struct OtherWindows {
        std::function<void()> showAbout; // AboutBox.showWindow
        std::function<void()> showCompareWindow;
        std::function<void(bool)> enableInformationWindow; // InformationWindow.Enabled
        std::function<void()> unloadInformationWindow;     // Unload InformationWindow
        // Tab past this window's last control (or Shift+Tab before its first).
        std::function<void(bool forward)> tabIntoInformationWindow;
    };

    MainWindow(PictureDocument &doc, const platform::Services &sys, OtherWindows others);
    ~MainWindow() override;

    // The file the program was started with: opened after the start, or
    // handed to the copy that runs already.
    QString startFile;
    // Opens a file named from outside (the start, another start, a drop) as
    // Open does after its dialog.
    void openGivenFile(const QString &path);
    // The same for a file handed over or dropped, once no modal box is up.
    void openFromOutside(const QString &path);

    // --- controls ---
    PictureBox *toolStrip;
    GraphicalButton *openButton, *saveButton, *copyDesktopButton, *importClipboardButton,
        *browserButton;
    QLabel *captureWaitTitle, *captureWaitLabel;
    QScrollBar *captureWaitBar;
    PictureBox *pictureBox;
    ImageBox *pictureView;
    QMenu *fileMenu, *editMenu, *windowMenu;
    FileDialog fileDialog;
    QAction *openItem, *saveItem, *quitItem, *copyDesktopItem, *importClipboardItem,
        *browserCaptureItem, *menuSeparator, *offlineItem, *onlineItem, *compareItem, *aboutItem;

    // --- handlers ---
    void loadWindow();
    void fitToPicture();
    void unloadWindow(int16_t &Cancel);
    void captureWaitChanged();
    void pictureClicked();
    void openClicked();
    void saveClicked();
    void copyDesktopClicked();
    void importClipboardClicked();
    void browserCaptureClicked();
    void browserCaptureChosen();
    void quitChosen();
    void aboutChosen();
    void compareChosen();
    void openChosen();
    void saveChosen();
    void copyDesktopChosen();
    void importClipboardChosen();
    void offlineChosen();
    void onlineChosen();

    // --- window properties, in twips ---
    float Height() const;        // outer height, frame included
    void setHeight(float twips); // raises a resize, as the layout expects
    float ScaleWidth() const;    // client area below the menu bar
    float ScaleHeight() const;
    void showWindow();
    // The menu items that have keys of their own (Ctrl+O ...): the program's
    // other windows take them too.
    QList<QAction *> keyedItems() const;
    // A menu item's check mark.
    static void setChecked(QAction *item, bool checked);

    // Focus coming back by Tab from the information window: the first
    // control, or with Shift+Tab the last.
    void takeFocusByTab(bool forward);

protected:
    bool focusNextPrevChild(bool next) override;
    void resizeEvent(QResizeEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void changeEvent(QEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private:
    void buildMenus();
    void buildControls();
    void showDocument();
    int menuBarHeight(int windowWidth) const;
    void openPendingFiles();
    void showCaptureWait();
    void describePicture();
    PictureDocument &doc_;
    platform::Services sys_;
    OtherWindows others_;
    QStringList pendingOpens_; // handed over or dropped, not yet opened
    bool openRetryPlanned_ = false;
};
