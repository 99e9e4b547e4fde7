#pragma once
// The About box: title, version line, description, credit, and a button that
// starts the system information viewer where the registry names one.

#include <QDialog>

#include <cstdint>

class Program;
class QLabel;
class QPushButton;

class frmAbout : public QDialog
{
    Q_OBJECT
public:
    explicit frmAbout(Program &program);

    QLabel *picIcon, *lblTitle, *lblVersion, *lblDescription, *lblDisclaimer;
    QPushButton *cmdOK, *cmdSysInfo;

    void Form_Load();
    void Form_Unload(int16_t &Cancel);
    void cmdOK_Click();
    void cmdSysInfo_Click();
    void StartSysInfo();
    bool GetKeyValue(int32_t &KeyRoot, QString &KeyName, QString &SubKeyRef, QString &KeyVal);

    void Show();

protected:
    void closeEvent(QCloseEvent *event) override;
    void reject() override; // Esc

private:
    Program &program_;
};
