#pragma once
// The About box: title, version line, description, credit, and a button that
// starts a system information viewer.

#include "core/services.h"

#include <QDialog>

#include <cstdint>
#include <functional>

class QScreen;
class QLabel;
class QPushButton;

class AboutBox : public QDialog
{
    Q_OBJECT
public:
    // What the box asks of the program's other windows.
    struct OtherWindows {
        std::function<void(bool)> enable; // MainWindow.Enabled and InformationWindow.Enabled
        std::function<void()> unloadMe;   // Unload Me
    };
    AboutBox(const platform::Services &sys, OtherWindows others);

    QLabel *iconLabel, *titleLabel, *versionLabel, *descriptionLabel, *disclaimerLabel;
    QPushButton *okButton, *systemInfoButton;

    void loadWindow();
    void unloadWindow(int16_t &Cancel);
    void okClicked();
    void systemInfoClicked();
    void startSystemInfo();

    void showWindow();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void placeOn(const QScreen *screen);
    void reject() override; // Esc

    platform::Services sys_;
    OtherWindows others_;
};
